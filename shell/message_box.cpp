// Message boxes made from templates of the string table.
#include "shell/message_box.h"

#include "analysis/result_messages.h"
#include "shell/shell.h"

namespace {

// A template and a path of up to 1023 bytes fit.
const int BOX_TEXT_SIZE = 2048;
const int BOX_CAPTION_SIZE = 100;

// A text of the string table; empty when it is missing.
void LoadText(UINT id, char* out, int size) {
    if (LoadStringA(AppInstance, id, out, size) <= 0) out[0] = '\0';
}

}  // namespace

void ShowStringTableBox(HWND owner, UINT text_id, UINT caption_id, UINT icon, const char* const* values,
                        size_t value_count) {
    char text_template[BOX_TEXT_SIZE];
    char text[BOX_TEXT_SIZE];
    char caption[BOX_CAPTION_SIZE];
    LoadText(text_id, text_template, sizeof text_template);
    LoadText(caption_id, caption, sizeof caption);
    FillTextTemplate(text_template, values, value_count, text, sizeof text);
    MessageBoxA(owner, text, caption, MB_OK | icon);
}
