// The chart's picture saved as a PNG file: the back buffer's pixels, encoded
// by the Windows Imaging Component, which Windows and Wine both carry.
#include <windows.h>

#include <wincodec.h>
#include <wrl/client.h>

#include "analysis/media_file.h"
#include "chart/chart_win32.h"
#include "chart/gdi_guards_win32.h"

using Microsoft::WRL::ComPtr;

namespace {

// COM for the length of one save; left alone when the thread already has it
// in another mode (it is usable then too, and not ours to end).
class ScopedCom {
public:
    ScopedCom() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ScopedCom() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;

    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// A copy of the back buffer as 24-bit top-down rows, the layout of WIC's
// 24bppBGR: the same pixels, read through a DIB section we can address.
struct PictureRows {
    int width = 0;
    int height = 0;
    UINT stride = 0;
    const BYTE* bits = nullptr;
};

class BackBufferCopy {
public:
    BackBufferCopy() {
        BITMAP buffer;
        if (BackBufferDC == nullptr || BackBufferBitmap == nullptr ||
            GetObjectA(BackBufferBitmap, sizeof buffer, &buffer) == 0 || buffer.bmWidth <= 0 || buffer.bmHeight <= 0) {
            return;
        }
        BITMAPINFO format = {};
        format.bmiHeader.biSize = sizeof format.bmiHeader;
        format.bmiHeader.biWidth = buffer.bmWidth;
        format.bmiHeader.biHeight = -buffer.bmHeight;  // top-down
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 24;
        format.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (section == nullptr || bits == nullptr || dc_.get() == nullptr) {
            if (section != nullptr) DeleteObject(section);
            return;
        }
        section_ = section;
        // Selected out again with the guard; deleted with this copy.
        ScopedSelection selected(dc_.get(), section, ScopedSelection::STOCK);
        if (!BitBlt(dc_.get(), 0, 0, buffer.bmWidth, buffer.bmHeight, BackBufferDC, 0, 0, SRCCOPY)) return;
        GdiFlush();
        rows_.width = buffer.bmWidth;
        rows_.height = buffer.bmHeight;
        rows_.stride = (static_cast<UINT>(buffer.bmWidth) * 3 + 3) & ~3u;  // DIB rows end on 4 bytes
        rows_.bits = static_cast<const BYTE*>(bits);
    }
    ~BackBufferCopy() {
        if (section_ != nullptr) DeleteObject(section_);
    }
    BackBufferCopy(const BackBufferCopy&) = delete;
    BackBufferCopy& operator=(const BackBufferCopy&) = delete;

    // Null when the copy could not be made.
    const PictureRows* Rows() const { return rows_.bits ? &rows_ : nullptr; }

private:
    ScopedMemoryDC dc_;
    HBITMAP section_ = nullptr;
    PictureRows rows_;
};

// `created` says whether the file was made (or emptied) on the way.
bool EncodePng(const PictureRows& rows, const wchar_t* path, bool* created) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(factory.GetAddressOf()))) ||
        FAILED(factory->CreateStream(stream.GetAddressOf()))) {
        return false;
    }
    if (FAILED(stream->InitializeFromFilename(path, GENERIC_WRITE))) return false;
    *created = true;
    if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf())) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.GetAddressOf(), nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(static_cast<UINT>(rows.width), static_cast<UINT>(rows.height)))) {
        return false;
    }
    // The encoder may answer with a format it prefers; any other than ours
    // would not be the back buffer's pixels.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) return false;
    const UINT size = rows.stride * static_cast<UINT>(rows.height);
    return SUCCEEDED(
               frame->WritePixels(static_cast<UINT>(rows.height), rows.stride, size, const_cast<BYTE*>(rows.bits))) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace

int SaveChartPicture(const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    // The process code page, as the C library reads the paths KOV opens.
    // A UTF-8 path of PATH_BUFFER_SIZE bytes takes at most as many UTF-16 units.
    wchar_t wide_path[PATH_BUFFER_SIZE];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide_path, PATH_BUFFER_SIZE) <= 0) return 0;

    const BackBufferCopy copy;
    if (copy.Rows() == nullptr) return 0;
    bool created = false;
    bool written = false;
    {
        const ScopedCom com;
        // The stream and the encoder are released before the file is judged.
        written = com.Usable() && EncodePng(*copy.Rows(), wide_path, &created);
    }
    // A file cut short is no picture: none is better. A file never reached
    // stays as it was.
    if (!written && created) DeleteFileW(wide_path);
    return written ? 1 : 0;
}
