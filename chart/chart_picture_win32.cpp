// The chart's picture saved as a PNG file: the back buffer's pixels, encoded
// by the Windows Imaging Component, which Windows and Wine both carry, with
// the measured file's name as its title text.
#include <windows.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// The PNG file into `png`, in memory: the text chunk goes in before the file
// is written.
bool EncodePng(const PictureRows& rows, std::vector<BYTE>* png) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IStream> memory;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(factory.GetAddressOf()))) ||
        FAILED(CreateStreamOnHGlobal(nullptr, TRUE, memory.GetAddressOf()))) {
        return false;
    }
    if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf())) ||
        FAILED(encoder->Initialize(memory.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.GetAddressOf(), nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(static_cast<UINT>(rows.width), static_cast<UINT>(rows.height)))) {
        return false;
    }
    // The encoder may answer with a format it prefers; any other than ours
    // would not be the back buffer's pixels.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) return false;
    const UINT size = rows.stride * static_cast<UINT>(rows.height);
    if (FAILED(frame->WritePixels(static_cast<UINT>(rows.height), rows.stride, size, const_cast<BYTE*>(rows.bits))) ||
        FAILED(frame->Commit()) || FAILED(encoder->Commit())) {
        return false;
    }
    HGLOBAL global = nullptr;
    STATSTG status = {};
    if (FAILED(GetHGlobalFromStream(memory.Get(), &global)) || FAILED(memory->Stat(&status, STATFLAG_NONAME)) ||
        status.cbSize.QuadPart > GlobalSize(global)) {
        return false;
    }
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(global));
    if (bytes == nullptr) return false;
    png->assign(bytes, bytes + status.cbSize.QuadPart);
    GlobalUnlock(global);
    return true;
}

// The PNG signature and the IHDR chunk, which every other chunk follows.
const size_t PNG_HEAD_SIZE = 8 + 12 + 13;

void PutBigEndian32(std::vector<BYTE>* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(BYTE(value >> shift));
}

uint32_t Crc32(const BYTE* bytes, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A "Title" text chunk: tEXt for ASCII, else iTXt with the text in UTF-8
// (`title` is in the process code page, as KOV's paths are).
std::vector<BYTE> TitleChunk(const char* title) {
    bool ascii = true;
    for (const char* c = title; *c; ++c) ascii = ascii && static_cast<unsigned char>(*c) < 0x80;
    std::vector<BYTE> data = {'T', 'i', 't', 'l', 'e', 0};
    std::string utf8 = title;
    if (!ascii) {
        data.insert(data.end(), {0, 0, 0, 0});  // no compression, no language, no translated keyword
        wchar_t wide[PATH_BUFFER_SIZE];
        char converted[PATH_BUFFER_SIZE * 3];
        const int units = MultiByteToWideChar(CP_ACP, 0, title, -1, wide, PATH_BUFFER_SIZE);
        const int length =
            units > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, converted, sizeof converted, nullptr, nullptr) : 0;
        utf8 = length > 0 ? converted : "";
    }
    data.insert(data.end(), utf8.begin(), utf8.end());
    std::vector<BYTE> chunk;
    PutBigEndian32(&chunk, uint32_t(data.size()));
    const char* type = ascii ? "tEXt" : "iTXt";
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    PutBigEndian32(&chunk, Crc32(chunk.data() + 4, chunk.size() - 4));
    return chunk;
}

// Writes the whole file or, cut short, none of it.
bool WriteWholeFile(const wchar_t* path, const std::vector<BYTE>& bytes) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    const bool closed = CloseHandle(file) != 0;
    if (whole && closed) return true;
    DeleteFileW(path);
    return false;
}

}  // namespace

int SaveChartPicture(const char* path, const char* title) {
    if (path == nullptr || path[0] == '\0') return 0;
    // The process code page, as the C library reads the paths KOV opens.
    // A UTF-8 path of PATH_BUFFER_SIZE bytes takes at most as many UTF-16 units.
    wchar_t wide_path[PATH_BUFFER_SIZE];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide_path, PATH_BUFFER_SIZE) <= 0) return 0;

    const BackBufferCopy copy;
    if (copy.Rows() == nullptr) return 0;
    std::vector<BYTE> png;
    bool encoded = false;
    {
        const ScopedCom com;
        // The stream and the encoder are released before the file is written.
        encoded = com.Usable() && EncodePng(*copy.Rows(), &png);
    }
    // A file never reached stays as it was.
    if (!encoded || png.size() < PNG_HEAD_SIZE || std::memcmp(png.data() + 12, "IHDR", 4) != 0) return 0;
    if (title != nullptr && title[0] != '\0') {
        const std::vector<BYTE> chunk = TitleChunk(title);
        png.insert(png.begin() + PNG_HEAD_SIZE, chunk.begin(), chunk.end());
    }
    return WriteWholeFile(wide_path, png) ? 1 : 0;
}
