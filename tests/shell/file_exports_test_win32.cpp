// File > Export CSV... and File > Save Chart As... under Wine: the Save As
// dialog with the measured file's name, the files written through it, and
// what a failed or cancelled save leaves. The files land in KOV_EXPORTS_DIR,
// where exports_check.py decodes the picture with PIL and compares the rows
// with rmrate.exe's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/figures_text.h"
#include "analysis/measurement.h"
#include "analysis/window_statistics.h"
#include "chart/chart_win32.h"
#include "shell/file_exports.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell_test_support_win32.h"
#include "tests/chart/chart_test_support_win32.h"

using namespace shell_test;

namespace {

// The file-name box of a Save As dialog: a combo box (cmb13) in the
// Explorer-style dialog, an edit (edt1) in the old one.
HWND FileNameBox(HWND dialog) {
    HWND box = GetDlgItem(dialog, 0x47c);
    return box ? box : GetDlgItem(dialog, 0x480);
}

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::vector<unsigned char> FileBytes(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    unsigned char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint32_t BigEndian32(const std::vector<unsigned char>& bytes, size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

TEST(ReplaceExtensionTest, NameTakesTheNewExtension) {
    struct Case {
        const char* path;
        const char* extension;
        size_t size;
        const char* name;
    };
    const Case cases[] = {
        {"Z:\\clips\\demo.rm", "csv", 100, "Z:\\clips\\demo.csv"},
        {"demo.rmvb", "png", 100, "demo.png"},
        {"a.b.rm", "csv", 100, "a.b.csv"},
        // A dot in a folder's name is not the file's extension.
        {"Z:\\clips.old\\demo", "csv", 100, "Z:\\clips.old\\demo.csv"},
        {"Z:/clips.old/demo", "csv", 100, "Z:/clips.old/demo.csv"},
        {"C:demo.rm", "png", 100, "C:demo.png"},
        {"", "csv", 100, ".csv"},
        // Exactly enough room, and one byte short.
        {"a.rm", "csv", 6, "a.csv"},
        {"a.rm", "csv", 5, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char out[100];
        std::memset(out, 'x', sizeof out);
        ReplaceExtension(c.path, c.extension, out, c.size);
        EXPECT_STREQ(c.name, out);
    }
}

class FileExportsTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        CreateDirectoryA(KOV_EXPORTS_DIR, nullptr);
    }

    // With Windows' backslashes: the Save As dialog refuses a '/' in a name.
    static std::string Exported(const char* name) {
        std::string path = std::string(KOV_EXPORTS_DIR) + "/" + name;
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        return path;
    }

    void Measure(const std::string& path) {
        DialogWatcher watcher;
        RunAnalysis(hwnd(), path.c_str());
        ASSERT_TRUE(watcher.Seen().empty());
    }

    // Sends the command and answers its Save As dialog with `path`; the
    // dialogs seen, and the name the first proposed.
    std::vector<SeenDialog> SaveThrough(UINT command, const std::string& path, std::string* proposed,
                                        Dismiss how = Dismiss::Ok) {
        DialogWatcher watcher(how);
        bool first = true;
        watcher.OnDialog([&](const SeenDialog& dialog) {
            if (!first) return;
            first = false;
            HWND name = FileNameBox(dialog.window);
            if (proposed) *proposed = TextOf(name);
            SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        });
        SendMessageA(hwnd(), WM_COMMAND, command, 0);
        EXPECT_FALSE(watcher.Stuck());
        return watcher.Seen();
    }
};

// The rows, "\r\n"-ended as rmrate.exe writes them on Windows, equal those of
// the CSV writer over the figures of the same file.
TEST_F(FileExportsTest, ExportCsvWritesTheRowsOfTheMeasuredFile) {
    const std::string sample = SamplePath("demo.rm");
    Measure(sample);
    const std::string target = Exported("demo.csv");
    std::remove(target.c_str());

    std::string proposed;
    const std::vector<SeenDialog> seen = SaveThrough(IDM_EXPORTCSV, target, &proposed);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Export CSV", seen[0].caption);
    EXPECT_EQ("demo.csv", proposed);

    Measurement figures;
    ASSERT_EQ(ANALYSIS_OK, ::Measure(sample.c_str(), MeasureOptions(), &figures));
    const std::string expected_path = Exported("expected.csv");
    FILE* expected = std::fopen(expected_path.c_str(), "w");
    ASSERT_NE(nullptr, expected);
    ASSERT_TRUE(WriteWindowsCsv(figures, expected));
    std::fclose(expected);

    const std::vector<unsigned char> rows = FileBytes(target);
    EXPECT_EQ(FileBytes(expected_path), rows);
    const std::string head = "start_ms,kbps,keyframes\r\n0,";
    ASSERT_GT(rows.size(), head.size());
    EXPECT_EQ(head, std::string(rows.begin(), rows.begin() + head.size()));
    std::remove(expected_path.c_str());
}

// The frames, as rmrate.exe --frames writes them (exports_check.py compares
// the two), equal the writer's rows over a measurement of the same file.
TEST_F(FileExportsTest, ExportFramesCsvWritesEveryFrameOfTheMeasuredFile) {
    const std::string sample = SamplePath("demo.rm");
    Measure(sample);
    const std::string target = Exported("demo.frames.csv");
    std::remove(target.c_str());

    std::string proposed;
    const std::vector<SeenDialog> seen = SaveThrough(IDM_EXPORTFRAMES, target, &proposed);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Export Frames CSV", seen[0].caption);
    EXPECT_EQ("demo.frames.csv", proposed);

    Measurement figures;
    MeasureOptions options;
    options.frames = true;
    options.keep_frames = true;
    ASSERT_EQ(ANALYSIS_OK, ::Measure(sample.c_str(), options, &figures));
    ASSERT_EQ(432u, figures.frames.size());
    const std::string expected_path = Exported("expected.frames.csv");
    FILE* expected = std::fopen(expected_path.c_str(), "w");
    ASSERT_NE(nullptr, expected);
    ASSERT_TRUE(WriteFramesCsv(figures, expected));
    std::fclose(expected);
    const std::vector<unsigned char> rows = FileBytes(target);
    EXPECT_EQ(FileBytes(expected_path), rows);
    const std::string head =
        "offset,timestamp_ms,bytes,packets,keyframe,type\r\n407,0,";  // the first video packet, after an audio one
    ASSERT_GT(rows.size(), head.size());
    EXPECT_EQ(head, std::string(rows.begin(), rows.begin() + head.size()));
    std::remove(expected_path.c_str());
}

// The picture is the back buffer with what it shows at the time (here the
// keyframe ticks); exports_check.py compares its pixels with the dump.
TEST_F(FileExportsTest, SaveChartAsWritesTheBackBufferAsPng) {
    Measure(SamplePath("demo.rm"));
    SendMessageA(hwnd(), WM_COMMAND, IDM_KEYFRAMES, 0);
    const std::string target = Exported("chart.png");
    std::remove(target.c_str());

    std::string proposed;
    const std::vector<SeenDialog> seen = SaveThrough(IDM_SAVECHART, target, &proposed);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Save Chart As", seen[0].caption);
    EXPECT_EQ("demo.png", proposed);

    const std::vector<unsigned char> png = FileBytes(target);
    ASSERT_GT(png.size(), 33u);
    const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(0, std::memcmp(png.data(), signature, sizeof signature));
    EXPECT_EQ(0, std::memcmp(png.data() + 12, "IHDR", 4));
    const RECT client = Client();
    EXPECT_EQ(uint32_t(client.right), BigEndian32(png, 16));
    EXPECT_EQ(uint32_t(client.bottom), BigEndian32(png, 20));
    EXPECT_EQ(8, png[24]);  // 8 bits per channel
    EXPECT_EQ(2, png[25]);  // RGB
    // Right after the header: the measured file's name as its title.
    ASSERT_GT(png.size(), 33u + 12 + 13);
    EXPECT_EQ(13u, BigEndian32(png, 33));
    EXPECT_EQ("tEXtTitle", std::string(png.begin() + 37, png.begin() + 46));
    EXPECT_EQ(std::string("\0demo.rm", 8), std::string(png.begin() + 46, png.begin() + 54));

    // The back buffer's pixels as a binary PPM, for PIL to compare.
    chart_test::Canvas chart(client.right, client.bottom);
    chart_test::CopyBackBuffer(chart);
    EXPECT_EQ(BackBufferPixel(client.right / 2, client.bottom / 2), chart.Pixel(client.right / 2, client.bottom / 2));
    FILE* dump = std::fopen(Exported("chart_back_buffer.ppm").c_str(), "wb");
    ASSERT_NE(nullptr, dump);
    std::fprintf(dump, "P6\n%ld %ld\n255\n", client.right, client.bottom);
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            const COLORREF pixel = chart.Pixel(x, y);
            const unsigned char rgb[] = {GetRValue(pixel), GetGValue(pixel), GetBValue(pixel)};
            std::fwrite(rgb, 1, 3, dump);
        }
    }
    EXPECT_EQ(0, std::fclose(dump));
    SendMessageA(hwnd(), WM_COMMAND, IDM_KEYFRAMES, 0);
}

TEST_F(FileExportsTest, CancelledDialogWritesNothing) {
    Measure(SamplePath("demo.rm"));
    for (UINT command : {IDM_EXPORTCSV, IDM_EXPORTFRAMES, IDM_SAVECHART}) {
        SCOPED_TRACE(command);
        const std::string target = Exported("cancelled.out");
        std::remove(target.c_str());
        EXPECT_EQ(1u, SaveThrough(command, target, nullptr, Dismiss::Cancel).size());
        EXPECT_FALSE(Exists(target));
    }
}

// A file that cannot be written (another program holds it open without
// sharing): the user confirms replacing it, and is then told it was not
// saved; the file keeps what it held.
TEST_F(FileExportsTest, AFileThatCannotBeWrittenIsReported) {
    Measure(SamplePath("demo.rm"));
    const std::string target = Exported("held.csv");
    HANDLE held = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    DWORD written = 0;
    WriteFile(held, "kept", 4, &written, nullptr);

    const std::vector<SeenDialog> seen = SaveThrough(IDM_EXPORTCSV, target, nullptr);
    CloseHandle(held);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ("Not saved", seen.back().caption);
    EXPECT_EQ("KOV could not write " + target + ".", seen.back().text);
    const std::vector<unsigned char> kept = FileBytes(target);
    EXPECT_EQ("kept", std::string(kept.begin(), kept.end()));
    std::remove(target.c_str());
}

// Straight through: a picture that cannot be written leaves no file, and a
// file it never reached as it was.
TEST_F(FileExportsTest, APictureThatCannotBeWrittenLeavesNoFile) {
    Measure(SamplePath("demo.rm"));
    EXPECT_EQ(0, SaveChartPicture("Z:\\no\\such\\folder\\chart.png"));
    EXPECT_FALSE(Exists("Z:\\no\\such\\folder\\chart.png"));
    EXPECT_EQ(0, SaveChartPicture(""));
    EXPECT_EQ(0, SaveChartPicture(nullptr));

    const std::string target = Exported("direct.png");
    EXPECT_EQ(1, SaveChartPicture(target.c_str()));
    EXPECT_TRUE(Exists(target));
    // Without a name there is no text: the header, then the pixels.
    const std::vector<unsigned char> png = FileBytes(target);
    ASSERT_GT(png.size(), 41u);
    EXPECT_EQ("IDAT", std::string(png.begin() + 37, png.begin() + 41));
    std::remove(target.c_str());
}

// A name beyond ASCII goes into an iTXt chunk in UTF-8; exports_check.py
// reads it back with PIL.
TEST_F(FileExportsTest, APictureNamesItsFileInUtf8) {
    Measure(SamplePath("demo.rm"));
    const std::string target = Exported("chart_named.png");
    ASSERT_EQ(1, SaveChartPicture(target.c_str(), "\xe6\xbc\x94\xe7\xa4\xba \xd0\xb4\xd0\xb5\xd0\xbc\xd0\xbe.rm"));
    const std::vector<unsigned char> png = FileBytes(target);
    // The keyword's end, no compression, its method, no language, no
    // translated keyword: five zero bytes before the text.
    const std::string expected =
        "iTXtTitle" + std::string(5, '\0') + "\xe6\xbc\x94\xe7\xa4\xba \xd0\xb4\xd0\xb5\xd0\xbc\xd0\xbe.rm";
    ASSERT_GT(png.size(), 37 + expected.size());
    EXPECT_EQ(expected.size() - 4, BigEndian32(png, 33));
    EXPECT_EQ(expected, std::string(png.begin() + 37, png.begin() + 37 + expected.size()));
}

}  // namespace
