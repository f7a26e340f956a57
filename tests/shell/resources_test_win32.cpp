// KOV's resources as Windows reads them: from KOV.EXE itself (which resources
// exist, in which language, the version block) and from this executable,
// which links the same resource script (strings, menu, accelerators, dialog
// templates, icons, bitmap).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "shell/resource.h"
#include "shell_test_support_win32.h"

using shell_test::KovExePath;

namespace {

const WORD LANGUAGE_2052 = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

HMODULE Self() { return GetModuleHandleA(nullptr); }

std::vector<BYTE> RawResource(HMODULE module, LPCSTR type, int id) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE* data = static_cast<const BYTE*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, found);
    return data ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
}

// ---------------------------------------------------------------- which resources

struct ResourceId {
    int type;
    int name;
    bool operator<(const ResourceId& other) const { return type != other.type ? type < other.type : name < other.name; }
};

const int RT_MANIFEST_ID = 24;

struct Enumerated {
    std::set<ResourceId> ids;
    std::set<WORD> languages;           // of everything but the manifest
    std::set<WORD> manifest_languages;  // the manifest belongs to no language
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR type, LPCSTR, WORD language, LONG_PTR param) {
    Enumerated* found = reinterpret_cast<Enumerated*>(param);
    if (type == MAKEINTRESOURCEA(RT_MANIFEST_ID)) {
        found->manifest_languages.insert(language);
    } else {
        found->languages.insert(language);
    }
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    Enumerated* found = reinterpret_cast<Enumerated*>(param);
    const int type_id = IS_INTRESOURCE(type) ? static_cast<int>(reinterpret_cast<ULONG_PTR>(type)) : -1;
    const int name_id = IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<ULONG_PTR>(name)) : -1;
    found->ids.insert({type_id, name_id});
    EnumResourceLanguagesA(module, type, name, CollectLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR param) {
    EnumResourceNamesA(module, type, CollectName, param);
    return TRUE;
}

TEST(KovExeResourcesTest, HoldsExactlyItsResourcesInLanguage2052) {
    HMODULE kov = LoadLibraryExA(KovExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, kov) << KovExePath();
    Enumerated found;
    EnumResourceTypesA(kov, CollectType, reinterpret_cast<LONG_PTR>(&found));
    FreeLibrary(kov);

    const int RT_STRING_ID = 6, RT_MENU_ID = 4, RT_ACCELERATOR_ID = 9, RT_DIALOG_ID = 5, RT_ICON_ID = 3,
              RT_GROUP_ICON_ID = 14, RT_BITMAP_ID = 2, RT_VERSION_ID = 16;
    // Strings 103 and 109 share block 7 (ids 96 to 111), the texts of a
    // file's ending and the first of the exports' (120 to 127) block 8, the
    // rest of the exports' (128 to 132) block 9; the two icons have one image
    // each, stored as RT_ICON 1 and 2.
    const std::set<ResourceId> expected = {
        {RT_BITMAP_ID, IDB_ABOUTLOGO},
        {RT_ICON_ID, 1},
        {RT_ICON_ID, 2},
        {RT_MENU_ID, IDR_MAINMENU},
        {RT_DIALOG_ID, IDD_ABOUTBOX},
        {RT_DIALOG_ID, IDD_WAIT},
        {RT_DIALOG_ID, IDD_STATISTICS},
        {RT_DIALOG_ID, IDD_EXPORT_CHOICE},
        {RT_DIALOG_ID, IDD_STREAMS},
        {RT_STRING_ID, 7},
        {RT_STRING_ID, 8},
        {RT_STRING_ID, 9},
        {RT_ACCELERATOR_ID, IDR_MAINMENU},
        {RT_GROUP_ICON_ID, IDI_MAIN},
        {RT_GROUP_ICON_ID, IDI_SMALL},
        {RT_VERSION_ID, 1},
        {RT_MANIFEST_ID, 1},
    };
    EXPECT_EQ(expected.size(), found.ids.size());
    for (const ResourceId& id : expected) {
        EXPECT_EQ(1u, found.ids.count(id)) << "type " << id.type << " id " << id.name;
    }
    EXPECT_EQ(std::set<WORD>{LANGUAGE_2052}, found.languages);
    EXPECT_EQ(std::set<WORD>{MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)}, found.manifest_languages);
}

// The manifest makes UTF-8 the code page of KOV.EXE, so that its ANSI calls
// carry any file name; it asks for nothing else.
TEST(KovExeResourcesTest, ManifestDeclaresUtf8AsTheCodePage) {
    HMODULE kov = LoadLibraryExA(KovExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, kov) << KovExePath();
    const std::vector<BYTE> raw = RawResource(kov, MAKEINTRESOURCEA(RT_MANIFEST_ID), 1);
    FreeLibrary(kov);
    const std::string manifest(raw.begin(), raw.end());
    EXPECT_NE(std::string::npos,
              manifest.find("<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">"
                            "UTF-8</activeCodePage>"));
    EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"asInvoker\""));
    // This test executable carries the same manifest, and Wine honours it.
    EXPECT_EQ(65001u, GetACP());
}

TEST(KovExeResourcesTest, VersionBlock) {
    const std::string path = KovExePath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0804, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    struct Value {
        const char* name;
        const char* text;
    };
    const Value values[] = {
        {"InternalName", "KOV"},     {"FileDescription", "KOV.EXE"}, {"OriginalFilename", "KOV.EXE"},
        {"ProductName", "Quorrel "}, {"FileVersion", "1, 0, 0, 1"},  {"ProductVersion", "1, 0, 0, 1"},
    };
    for (const Value& v : values) {
        SCOPED_TRACE(v.name);
        const std::string query = std::string("\\StringFileInfo\\080404b0\\") + v.name;
        char* text = nullptr;
        ASSERT_TRUE(VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length));
        // Exactly the text and its one terminator: no doubled "\0", no lost blank.
        EXPECT_STREQ(v.text, text);
        EXPECT_EQ(std::strlen(v.text) + 1, length);
    }
}

// ---------------------------------------------------------------- strings, menu, accelerators

TEST(ResourcesTest, StringTable) {
    char text[100] = {};
    EXPECT_EQ(44, LoadStringA(Self(), IDS_APP_TITLE, text, sizeof text));
    EXPECT_STREQ("KOV - Quorrel v1.0 for Pelsk special version", text);
    EXPECT_EQ(7, LoadStringA(Self(), IDS_WINDOWCLASS, text, sizeof text));
    EXPECT_STREQ("Quillet", text);
    EXPECT_NE(nullptr,
              FindResourceExA(Self(), MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(IDS_APP_TITLE / 16 + 1), LANGUAGE_2052));

    // The exports' texts; the filters' parts end in '|', turned into NULs
    // when loaded.
    struct Text {
        UINT id;
        const char* text;
    };
    const Text texts[] = {
        {IDS_EXPORT_CSV_TITLE, "Export CSV"},
        {IDS_CSV_FILTER, "CSV files (*.csv)|*.csv|All files (*.*)|*.*|"},
        {IDS_SAVE_CHART_TITLE, "Save Chart As"},
        {IDS_PNG_FILTER, "PNG pictures (*.png)|*.png|"},
        {IDS_SAVE_FAILED_CAPTION, "Not saved"},
        {IDS_SAVE_FAILED, "KOV could not write %1."},
        {IDS_EXPORT_FRAMES_TITLE, "Export Frames CSV"},
    };
    for (const Text& t : texts) {
        SCOPED_TRACE(t.id);
        char loaded[200] = {};
        EXPECT_EQ(static_cast<int>(std::strlen(t.text)), LoadStringA(Self(), t.id, loaded, sizeof loaded));
        EXPECT_STREQ(t.text, loaded);
        EXPECT_NE(nullptr,
                  FindResourceExA(Self(), MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(t.id / 16 + 1), LANGUAGE_2052));
    }
}

std::string MenuText(HMENU menu, UINT position) {
    char text[64] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

bool Grey(HMENU menu, UINT position) { return (GetMenuState(menu, position, MF_BYPOSITION) & MF_GRAYED) != 0; }

TEST(ResourcesTest, MainMenu) {
    HMENU menu = LoadMenuA(Self(), MAKEINTRESOURCEA(IDR_MAINMENU));
    ASSERT_NE(nullptr, menu);
    ASSERT_EQ(3, GetMenuItemCount(menu));
    EXPECT_EQ("&File", MenuText(menu, 0));
    EXPECT_EQ("&View", MenuText(menu, 1));
    EXPECT_EQ("&Help", MenuText(menu, 2));

    // The items that need a measured file start grey.
    struct Item {
        const char* text;  // null: a separator
        UINT id;
        bool grey;
    };
    struct Popup {
        int position;
        std::vector<Item> items;
    };
    const Popup popups[] = {
        {0,
         {{"&LoadFile", IDM_LOADFILE, false},
          {"&Export CSV...", IDM_EXPORTCSV, true},
          {"Export &Frames CSV...", IDM_EXPORTFRAMES, true},
          {"Save &Chart As...", IDM_SAVECHART, true},
          {nullptr, 0, false},
          {"Compare &With...", IDM_COMPAREWITH, true},
          {"Close Co&mparison", IDM_CLOSECOMPARISON, true},
          {nullptr, 0, false},
          {"E&xit", IDM_EXIT, false}}},
        {1,
         {{"&Statistics...", IDM_STATISTICS, true},
          {"&Keyframes", IDM_KEYFRAMES, true},
          {"S&treams...", IDM_STREAMS, true},
          {nullptr, 0, false},
          {"Zoom &In\tCtrl+Right", IDM_ZOOMIN, true},
          {"Zoom &Out\tCtrl+Left", IDM_ZOOMOUT, true},
          {"Pan &Right\tShift+Right", IDM_PANRIGHT, true},
          {"Pan &Left\tShift+Left", IDM_PANLEFT, true},
          {"&Next Page\tPgDn", IDM_NEXTPAGE, true},
          {"&Previous Page\tPgUp", IDM_PREVIOUSPAGE, true},
          {"&Whole File\tHome", IDM_WHOLEFILE, true},
          {nullptr, 0, false},
          {"&Frames\tCtrl+F", IDM_FRAMES, true},
          {"&GOPs\tCtrl+G", IDM_GOPS, true},
          {"&Moving Average\tCtrl+M", UINT(-1), false}}},
        {2, {{"&About ...", IDM_ABOUT, false}}},
    };
    for (const Popup& p : popups) {
        SCOPED_TRACE(MenuText(menu, p.position));
        HMENU popup = GetSubMenu(menu, p.position);
        ASSERT_EQ(static_cast<int>(p.items.size()), GetMenuItemCount(popup));
        for (size_t i = 0; i < p.items.size(); ++i) {
            const Item& item = p.items[i];
            const UINT position = static_cast<UINT>(i);
            if (!item.text) {
                EXPECT_TRUE(GetMenuState(popup, position, MF_BYPOSITION) & MF_SEPARATOR);
                continue;
            }
            EXPECT_EQ(item.text, MenuText(popup, position));
            EXPECT_EQ(item.id, GetMenuItemID(popup, static_cast<int>(i)));  // -1: a submenu
            EXPECT_EQ(item.grey, Grey(popup, position)) << item.text;
            EXPECT_FALSE(GetMenuState(popup, position, MF_BYPOSITION) & MF_CHECKED) << item.text;
        }
    }
    // View > Moving Average: a setting, Off to begin with, enabled before any file.
    HMENU averages = GetSubMenu(GetSubMenu(menu, 1), 14);
    const char* const spans[] = {"&Off", "&2 s", "&5 s", "1&0 s", "&30 s"};
    ASSERT_EQ(5, GetMenuItemCount(averages));
    for (UINT i = 0; i < 5; ++i) {
        EXPECT_EQ(spans[i], MenuText(averages, i));
        EXPECT_EQ(IDM_MOVINGAVERAGE_OFF + i, GetMenuItemID(averages, int(i)));
        EXPECT_EQ(i == 0, (GetMenuState(averages, i, MF_BYPOSITION) & MF_CHECKED) != 0) << spans[i];
        EXPECT_FALSE(Grey(averages, i));
    }
    DestroyMenu(menu);
}

// Alt+? and Alt+/ as typed characters; the View menu's keys as virtual keys
// with exactly their modifiers, so the plain arrows stay the chart's.
TEST(ResourcesTest, Accelerators) {
    HACCEL table = LoadAcceleratorsA(Self(), MAKEINTRESOURCEA(IDR_MAINMENU));
    ASSERT_NE(nullptr, table);
    const ACCEL want[] = {
        {FALT, '?', IDM_ABOUT},
        {FALT, '/', IDM_ABOUT},
        {FVIRTKEY | FCONTROL, VK_RIGHT, IDM_ZOOMIN},
        {FVIRTKEY | FCONTROL, VK_LEFT, IDM_ZOOMOUT},
        {FVIRTKEY | FSHIFT, VK_RIGHT, IDM_PANRIGHT},
        {FVIRTKEY | FSHIFT, VK_LEFT, IDM_PANLEFT},
        {FVIRTKEY, VK_NEXT, IDM_NEXTPAGE},
        {FVIRTKEY, VK_PRIOR, IDM_PREVIOUSPAGE},
        {FVIRTKEY, VK_HOME, IDM_WHOLEFILE},
        {FVIRTKEY | FCONTROL, 'F', IDM_FRAMES},
        {FVIRTKEY | FCONTROL, 'G', IDM_GOPS},
        {FVIRTKEY | FCONTROL, 'M', IDM_MOVINGAVERAGE_NEXT},
    };
    const int count = sizeof want / sizeof want[0];
    ACCEL entries[32];
    ASSERT_EQ(count, CopyAcceleratorTableA(table, entries, 32));
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(want[i].fVirt, entries[i].fVirt & ~FNOINVERT);
        EXPECT_EQ(want[i].key, entries[i].key);
        EXPECT_EQ(want[i].cmd, entries[i].cmd);
    }
    DestroyAcceleratorTable(table);
}

// ---------------------------------------------------------------- dialog templates

struct DialogItem {
    DWORD style;
    short x, y, cx, cy;
    int id;
    int class_ordinal;  // 0x80 button, 0x82 static
    std::string text;   // or "#<ordinal>" for an ordinal
    std::string class_name = "";
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, window_class, title;
    int point_size = 0;
    std::string typeface;
    std::vector<DialogItem> items;
};

// Reads the DLGTEMPLATEEX layout that DIALOGEX produces.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<BYTE>& data) : data_(data) {}
    WORD Word() {
        WORD w = 0;
        if (at_ + 2 <= data_.size()) std::memcpy(&w, &data_[at_], 2);
        at_ += 2;
        return w;
    }
    DWORD Dword() {
        const DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    std::string Text() {
        std::string text;
        for (WORD c = Word(); c != 0 && at_ <= data_.size(); c = Word()) text += static_cast<char>(c);
        return text;
    }
    // A string, an ordinal (0xFFFF then the number) or nothing (0).
    std::string SzOrOrdinal(int* ordinal = nullptr) {
        const WORD first = Word();
        if (first == 0) return "";
        if (first == 0xFFFF) {
            const WORD number = Word();
            if (ordinal) *ordinal = number;
            return "#" + std::to_string(number);
        }
        at_ -= 2;
        return Text();
    }
    void AlignDword() { at_ = (at_ + 3) & ~size_t(3); }

private:
    const std::vector<BYTE>& data_;
    size_t at_ = 0;
};

DialogTemplate ReadTemplate(int id) {
    DialogTemplate t;
    const std::vector<BYTE> data = RawResource(Self(), MAKEINTRESOURCEA(5), id);
    if (data.size() < 26) return t;
    TemplateReader r(data);
    const WORD version = r.Word();
    const WORD signature = r.Word();
    t.extended = version == 1 && signature == 0xFFFF;
    if (!t.extended) return t;
    r.Dword();  // help id
    t.ex_style = r.Dword();
    t.style = r.Dword();
    const WORD count = r.Word();
    t.x = static_cast<short>(r.Word());
    t.y = static_cast<short>(r.Word());
    t.cx = static_cast<short>(r.Word());
    t.cy = static_cast<short>(r.Word());
    t.menu = r.SzOrOrdinal();
    t.window_class = r.SzOrOrdinal();
    t.title = r.Text();
    if (t.style & DS_SETFONT) {
        t.point_size = r.Word();
        r.Word();  // weight
        r.Word();  // italic, charset
        t.typeface = r.Text();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        DialogItem item;
        r.Dword();  // help id
        r.Dword();  // extended style
        item.style = r.Dword();
        item.x = static_cast<short>(r.Word());
        item.y = static_cast<short>(r.Word());
        item.cx = static_cast<short>(r.Word());
        item.cy = static_cast<short>(r.Word());
        item.id = static_cast<int>(r.Dword());
        item.class_ordinal = -1;
        item.class_name = r.SzOrOrdinal(&item.class_ordinal);
        item.text = r.SzOrOrdinal();
        const WORD extra = r.Word();
        for (WORD k = 0; k < extra; ++k) r.Word();
        t.items.push_back(item);
    }
    return t;
}

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const int BUTTON = 0x80;
const int STATIC = 0x82;  // a class given by name, "Static", counts as well
const int NO_ID = -1;

void ExpectItems(const DialogTemplate& t, const std::vector<DialogItem>& expected) {
    ASSERT_EQ(expected.size(), t.items.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i);
        const DialogItem& e = expected[i];
        const DialogItem& a = t.items[i];
        EXPECT_EQ(e.style, a.style) << std::hex << e.style << " != " << a.style;
        EXPECT_EQ(e.x, a.x);
        EXPECT_EQ(e.y, a.y);
        EXPECT_EQ(e.cx, a.cx);
        EXPECT_EQ(e.cy, a.cy);
        EXPECT_EQ(e.id, static_cast<int>(static_cast<short>(a.id)));
        // CONTROL statements may name the class instead of using its ordinal.
        const bool named_static = e.class_ordinal == STATIC && lstrcmpiA(a.class_name.c_str(), "Static") == 0;
        if (!named_static) EXPECT_EQ(e.class_ordinal, a.class_ordinal);
        EXPECT_EQ(e.text, a.text);
    }
}

TEST(ResourcesTest, AboutBoxTemplate) {
    const DialogTemplate t = ReadTemplate(IDD_ABOUTBOX);
    ASSERT_TRUE(t.extended);
    EXPECT_EQ(static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_CAPTION | WS_SYSMENU), t.style) << std::hex << t.style;
    EXPECT_EQ(0u, t.ex_style);
    EXPECT_EQ(22, t.x);
    EXPECT_EQ(17, t.y);
    EXPECT_EQ(246, t.cx);
    EXPECT_EQ(93, t.cy);
    EXPECT_EQ("", t.menu);
    EXPECT_EQ("", t.window_class);
    EXPECT_EQ("About", t.title);
    EXPECT_EQ(8, t.point_size);
    EXPECT_EQ("System", t.typeface);
    ExpectItems(
        t, {
               {CHILD | SS_ICON, 14, 9, 20, 20, IDC_ABOUTICON, STATIC, "#107"},
               {CHILD | SS_LEFT | SS_NOPREFIX | WS_GROUP, 40, 9, 131, 8, NO_ID, STATIC, "Quorrel (KOV) Version 1.0"},
               {CHILD | SS_LEFT | WS_GROUP, 40, 19, 165, 8, NO_ID, STATIC, "Made by the KOV developers"},
               {CHILD | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 208, 6, 30, 11, IDOK, BUTTON, "OK"},
               {CHILD | SS_BITMAP, 40, 30, 159, 50, NO_ID, STATIC, "#131"},
           });
}

TEST(ResourcesTest, WaitDialogTemplate) {
    const DialogTemplate t = ReadTemplate(IDD_WAIT);
    ASSERT_TRUE(t.extended);
    // A hidden pop-up without a caption.
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | DS_MODALFRAME | DS_SETFONT), t.style) << std::hex << t.style;
    EXPECT_EQ(100, t.x);
    EXPECT_EQ(100, t.y);
    EXPECT_EQ(127, t.cx);
    EXPECT_EQ(30, t.cy);
    EXPECT_EQ("", t.title);
    EXPECT_EQ(10, t.point_size);
    EXPECT_EQ("System", t.typeface);
    ExpectItems(t, {
                       {CHILD | SS_LEFT | WS_GROUP, 14, 9, 106, 8, NO_ID, STATIC, "Analyzing data, please wait ..."},
                   });
}

// A resizable dialog, a read-only text that scrolls rather than wraps its
// lines, and one button that closes.
TEST(ResourcesTest, StatisticsDialogTemplate) {
    const DialogTemplate t = ReadTemplate(IDD_STATISTICS);
    ASSERT_TRUE(t.extended);
    EXPECT_EQ(static_cast<DWORD>(DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME), t.style)
        << std::hex << t.style;
    EXPECT_EQ(400, t.cx);
    EXPECT_EQ(230, t.cy);
    EXPECT_EQ("Statistics", t.title);
    EXPECT_EQ(8, t.point_size);
    EXPECT_EQ("MS Shell Dlg", t.typeface);
    const int EDIT = 0x81;
    ExpectItems(t, {
                       {CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
                            ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL,
                        7, 7, 386, 196, IDC_STATISTICS_TEXT, EDIT, ""},
                       {CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, 343, 209, 50, 14, IDOK, BUTTON, "Close"},
                   });
}

// ---------------------------------------------------------------- pictures

TEST(ResourcesTest, IconsAre32By32With256Colours) {
    for (int id : {IDI_MAIN, IDI_SMALL}) {
        SCOPED_TRACE(id);
        // GRPICONDIR: reserved, type 1, count; then 14-byte entries.
        const std::vector<BYTE> group = RawResource(Self(), MAKEINTRESOURCEA(14), id);
        ASSERT_EQ(6u + 14u, group.size());
        EXPECT_EQ(1, group[2] | (group[3] << 8));
        EXPECT_EQ(1, group[4] | (group[5] << 8));
        EXPECT_EQ(32, group[6]);  // width
        EXPECT_EQ(32, group[7]);  // height
        EXPECT_EQ(0, group[8]);   // 0: 256 colours
        EXPECT_EQ(8, group[12]);  // bits per pixel
        const int image_id = group[18] | (group[19] << 8);
        const std::vector<BYTE> image = RawResource(Self(), MAKEINTRESOURCEA(3), image_id);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(32, header.biWidth);
        EXPECT_EQ(64, header.biHeight);  // colour image and mask
        EXPECT_EQ(8, header.biBitCount);

        HICON icon = static_cast<HICON>(LoadImageA(Self(), MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, 0));
        EXPECT_NE(nullptr, icon);
        if (icon) DestroyIcon(icon);
    }
}

TEST(ResourcesTest, AboutLogoIs318By99At32Bits) {
    const std::vector<BYTE> data = RawResource(Self(), MAKEINTRESOURCEA(2), IDB_ABOUTLOGO);
    ASSERT_GE(data.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, data.data(), sizeof header);
    EXPECT_EQ(318, header.biWidth);
    EXPECT_EQ(99, header.biHeight);
    EXPECT_EQ(32, header.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    EXPECT_EQ(sizeof header + 318u * 99u * 4u, data.size());
}

}  // namespace
