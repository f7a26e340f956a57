// Message boxes whose texts come from the string table, filled in with the
// values of the moment.
#ifndef KOV_SHELL_MESSAGE_BOX_H
#define KOV_SHELL_MESSAGE_BOX_H

#include <windows.h>

#include <cstddef>

// A box owned by `owner` with OK and the icon given (MB_ICON..., or 0); its
// text is string `text_id` with %1, %2, ... replaced by `values`, its
// caption string `caption_id`. A missing string shows as an empty text.
void ShowStringTableBox(HWND owner, UINT text_id, UINT caption_id, UINT icon, const char* const* values,
                        size_t value_count);

#endif
