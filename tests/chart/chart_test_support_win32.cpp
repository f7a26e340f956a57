// The chart tests' canvas, GDI object counter, chart set-up and test window.
#include "chart_test_support_win32.h"

#include <cstring>
#include <map>

#include "analysis/analysis_run.h"
#include "chart/chart_model.h"
#include "chart/chart_win32.h"
#include "chart/series_statistics.h"

namespace chart_test {

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), dc_(nullptr), bitmap_(nullptr), previous_bitmap_(nullptr), bits_(nullptr) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width > 0 ? width : 1;
    info.bmiHeader.biHeight = -(height > 0 ? height : 1);  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    previous_bitmap_ = SelectObject(dc_, bitmap_);
    Fill(0);
}

Canvas::~Canvas() {
    SelectObject(dc_, previous_bitmap_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

COLORREF Canvas::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || bits_ == nullptr) {
        return ~0u;
    }
    GdiFlush();
    const uint32_t p = bits_[static_cast<size_t>(y) * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

void Canvas::Fill(COLORREF color) {
    GdiFlush();
    if (bits_ == nullptr) {
        return;
    }
    const uint32_t p = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
    const int w = width_ > 0 ? width_ : 1;
    const int h = height_ > 0 ? height_ : 1;
    for (int i = 0; i < w * h; ++i) {
        bits_[i] = p;
    }
}

std::vector<int> Canvas::RowsOfColor(int x, COLORREF color, int y_from, int y_to) const {
    std::vector<int> rows;
    if (y_to < 0) {
        y_to = height_ - 1;
    }
    for (int y = y_from; y <= y_to; ++y) {
        if (Pixel(x, y) == color) {
            rows.push_back(y);
        }
    }
    return rows;
}

std::vector<int> Canvas::ColumnsOfColor(int y, COLORREF color, int x_from, int x_to) const {
    std::vector<int> columns;
    if (x_to < 0) {
        x_to = width_ - 1;
    }
    for (int x = x_from; x <= x_to; ++x) {
        if (Pixel(x, y) == color) {
            columns.push_back(x);
        }
    }
    return columns;
}

int Canvas::CountColor(COLORREF color) const {
    int count = 0;
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            count += Pixel(x, y) == color ? 1 : 0;
        }
    }
    return count;
}

std::vector<POINT> Canvas::Differences(const Canvas& other) const {
    std::vector<POINT> differences;
    const bool same_size = width_ == other.width_ && height_ == other.height_;
    GdiFlush();
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            const size_t at = static_cast<size_t>(y) * width_ + x;
            if (!same_size || bits_ == nullptr || other.bits_ == nullptr || bits_[at] != other.bits_[at]) {
                differences.push_back(POINT{x, y});
            }
        }
    }
    return differences;
}

// ---- GDI counting through the import table ----

namespace {

struct CountingState {
    bool installed = false;
    std::set<HGDIOBJ> live_objects;
    std::set<HDC> live_dcs;
    int created = 0;
    int bad_deletes = 0;
    HGDIOBJ default_bitmap = nullptr;  // the 1 x 1 bitmap every memory DC starts with
};
CountingState counting;

typedef HPEN(WINAPI* CreatePenFn)(int, int, COLORREF);
typedef HBRUSH(WINAPI* CreateSolidBrushFn)(COLORREF);
typedef HBITMAP(WINAPI* CreateBitmapFn)(int, int, UINT, UINT, const void*);
typedef HDC(WINAPI* CreateCompatibleDCFn)(HDC);
typedef BOOL(WINAPI* DeleteObjectFn)(HGDIOBJ);
typedef BOOL(WINAPI* DeleteDCFn)(HDC);

CreatePenFn real_create_pen;
CreateSolidBrushFn real_create_solid_brush;
CreateBitmapFn real_create_bitmap;
CreateCompatibleDCFn real_create_compatible_dc;
DeleteObjectFn real_delete_object;
DeleteDCFn real_delete_dc;

void NoteCreated(HGDIOBJ object) {
    if (object != nullptr) {
        ++counting.created;
        counting.live_objects.insert(object);
    }
}

HPEN WINAPI CountingCreatePen(int style, int width, COLORREF color) {
    HPEN pen = real_create_pen(style, width, color);
    NoteCreated(pen);
    return pen;
}

HBRUSH WINAPI CountingCreateSolidBrush(COLORREF color) {
    HBRUSH brush = real_create_solid_brush(color);
    NoteCreated(brush);
    return brush;
}

HBITMAP WINAPI CountingCreateBitmap(int width, int height, UINT planes, UINT bits, const void* data) {
    HBITMAP bitmap = real_create_bitmap(width, height, planes, bits, data);
    // A 0 x 0 request yields the shared default bitmap, which is not a new object.
    if (bitmap != nullptr && bitmap != counting.default_bitmap) {
        NoteCreated(bitmap);
    }
    return bitmap;
}

HDC WINAPI CountingCreateCompatibleDC(HDC dc) {
    HDC made = real_create_compatible_dc(dc);
    if (made != nullptr) {
        ++counting.created;
        counting.live_dcs.insert(made);
    }
    return made;
}

BOOL WINAPI CountingDeleteObject(HGDIOBJ object) {
    const bool stock_bitmap = object == counting.default_bitmap;
    BOOL ok = real_delete_object(object);
    if (stock_bitmap) {
        return ok;
    }
    if (!ok || counting.live_objects.erase(object) == 0) {
        ++counting.bad_deletes;
    }
    return ok;
}

BOOL WINAPI CountingDeleteDC(HDC dc) {
    BOOL ok = real_delete_dc(dc);
    if (!ok || counting.live_dcs.erase(dc) == 0) {
        ++counting.bad_deletes;
    }
    return ok;
}

// Replaces every import-table slot of this executable that holds `original`.
void PatchImports(void* original, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return;
    }
    for (const IMAGE_IMPORT_DESCRIPTOR* d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         d->Name != 0; ++d) {
        for (IMAGE_THUNK_DATA* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
             thunk->u1.Function != 0; ++thunk) {
            void** slot = reinterpret_cast<void**>(&thunk->u1.Function);
            if (*slot != original) {
                continue;
            }
            DWORD old_protect = 0;
            VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old_protect);
            *slot = replacement;
            VirtualProtect(slot, sizeof *slot, old_protect, &old_protect);
        }
    }
}

template <typename Fn>
Fn Lookup(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("gdi32.dll"), name)));
}

template <typename Fn>
void* AsPointer(Fn f) {
    return reinterpret_cast<void*>(f);
}

void PatchAll(bool install) {
    struct Entry {
        void* real;
        void* counting;
    };
    const Entry entries[] = {
        {AsPointer(real_create_pen), AsPointer(&CountingCreatePen)},
        {AsPointer(real_create_solid_brush), AsPointer(&CountingCreateSolidBrush)},
        {AsPointer(real_create_bitmap), AsPointer(&CountingCreateBitmap)},
        {AsPointer(real_create_compatible_dc), AsPointer(&CountingCreateCompatibleDC)},
        {AsPointer(real_delete_object), AsPointer(&CountingDeleteObject)},
        {AsPointer(real_delete_dc), AsPointer(&CountingDeleteDC)},
    };
    for (const Entry& e : entries) {
        if (install) {
            PatchImports(e.real, e.counting);
        } else {
            PatchImports(e.counting, e.real);
        }
    }
}

}  // namespace

GdiCounter::GdiCounter() {
    real_create_pen = Lookup<CreatePenFn>("CreatePen");
    real_create_solid_brush = Lookup<CreateSolidBrushFn>("CreateSolidBrush");
    real_create_bitmap = Lookup<CreateBitmapFn>("CreateBitmap");
    real_create_compatible_dc = Lookup<CreateCompatibleDCFn>("CreateCompatibleDC");
    real_delete_object = Lookup<DeleteObjectFn>("DeleteObject");
    real_delete_dc = Lookup<DeleteDCFn>("DeleteDC");
    counting = CountingState();
    HDC probe_dc = real_create_compatible_dc(nullptr);
    counting.default_bitmap = GetCurrentObject(probe_dc, OBJ_BITMAP);
    real_delete_dc(probe_dc);
    // Proof that the patch took: a pen made through this executable's import
    // table must be seen.
    PatchAll(true);
    HPEN probe = CreatePen(PS_SOLID, 1, 0);
    DeleteObject(probe);
    counting.installed = counting.created == 1 && counting.bad_deletes == 0 && counting.live_objects.empty();
    counting.created = 0;
}

GdiCounter::~GdiCounter() {
    PatchAll(false);
    counting.installed = false;
}

size_t GdiCounter::LiveObjects() const { return counting.live_objects.size(); }
size_t GdiCounter::LiveDCs() const { return counting.live_dcs.size(); }
int GdiCounter::Created() const { return counting.created; }
int GdiCounter::BadDeletes() const { return counting.bad_deletes; }
bool GdiCounter::Installed() const { return counting.installed; }

// ---- chart data ----

ChartView& TestView() {
    static ChartView view;
    return view;
}

void ChartTestWindows(const std::vector<BitrateSample>& windows, const std::vector<uint32_t>& keyframes) {
    static std::vector<BitrateSample> charted;
    static std::vector<uint32_t> counted;
    charted = windows;
    counted = keyframes;
    ChartView& view = TestView();
    view.windows = charted.empty() ? nullptr : charted.data();
    view.window_count = uint32_t(charted.size());
    view.window_keyframes = counted.empty() ? nullptr : counted.data();
}

void LoadChart(uint32_t max_kbps, uint32_t last_start_ms, int64_t average_kbps,
               const std::vector<float>& video_points) {
    ResetChartCurves();
    ApplyChartCurveSettings(CURVE_AUDIO, AudioCurveSettings);
    ApplyChartCurveSettings(CURVE_VIDEO, VideoCurveSettings);
    SeriesStatistics.max_kbps = max_kbps;
    SeriesStatistics.last_start_ms = last_start_ms;
    SeriesStatistics.average_kbps = average_kbps;
    for (int slot : {CURVE_AUDIO, CURVE_VIDEO}) {
        ChartCurves[slot].top = static_cast<float>(max_kbps);
        ChartCurves[slot].bottom = 0.0f;
    }
    ChartCurve& video = ChartCurves[CURVE_VIDEO];
    video.point_count = static_cast<int32_t>(video_points.size());
    for (size_t i = 0; i < video_points.size() && i < static_cast<size_t>(CURVE_MAX_POINTS); ++i) {
        video.points[i] = video_points[i];
    }
    AnalysisPending = 0;
}

// ---- test window ----

namespace {

const char* const TEST_WINDOW_CLASS = "KovChartTestWindow";

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        InitChart(window);
        return 0;
    case WM_SIZE:
        ResizeChart(window, TestView());
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintChart(window, dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 0;
    case WM_KEYDOWN:
        HandleChartKey(window, wparam, TestView());
        return 0;
    case WM_DESTROY:
        ReleaseBackBuffer();
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

void RegisterTestClass() {
    static bool registered = false;
    if (registered) {
        return;
    }
    WNDCLASSA window_class;
    std::memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = TestWindowProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.lpszClassName = TEST_WINDOW_CLASS;
    registered = RegisterClassA(&window_class) != 0;
}

}  // namespace

ChartWindow::ChartWindow(int width, int height, bool visible, DWORD style) : hwnd_(nullptr) {
    RegisterTestClass();
    hwnd_ = CreateWindowExA(0, TEST_WINDOW_CLASS, "chart test", style, 0, 0, width, height, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    // Shown after creation and never activated: under Wine without a window
    // manager, a window created visible takes seconds to destroy.
    if (visible && hwnd_ != nullptr) {
        ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    }
}

ChartWindow::~ChartWindow() {
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
    // Drop whatever the destruction left queued so the next test starts clean.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void ChartWindow::Resize(int width, int height) {
    SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CopyBackBuffer(Canvas& canvas) {
    canvas.Fill(0);
    BitBlt(canvas.dc(), 0, 0, canvas.width(), canvas.height(), BackBufferDC, 0, 0, SRCCOPY);
    GdiFlush();
}

void DrawChartSteps(Canvas& canvas) {
    const RECT rect = canvas.rect();
    FillBackground(canvas.dc(), BACKGROUND, &rect);
    DrawGrid(canvas.dc(), 110, 50, &rect);
    DrawAxesAndAverage(canvas.dc(), &rect, ChartView());
    DrawCurves(canvas.dc(), &rect, ChartView());
    DrawTicksAndLabels(canvas.dc(), &rect, ChartView());
    GdiFlush();
}

SIZE DrawChartText(Canvas& canvas, int x, int y, UINT align, const std::string& text, COLORREF color) {
    HDC dc = canvas.dc();
    HGDIOBJ previous = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    SetTextAlign(dc, align);
    const int length = static_cast<int>(text.size());
    TextOutA(dc, x, y, text.c_str(), length);
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, text.c_str(), length, &extent);
    SelectObject(dc, previous);
    GdiFlush();
    return extent;
}

}  // namespace chart_test
