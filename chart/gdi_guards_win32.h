// Guards for GDI objects and DCs the chart makes for itself: each puts back
// or deletes what it holds when it goes out of scope, whatever path is taken.
#ifndef KOV_CHART_GDI_GUARDS_WIN32_H
#define KOV_CHART_GDI_GUARDS_WIN32_H

#include <windows.h>

// Selects a GDI object into a DC for the lifetime of the guard. On destruction
// the previous object goes back in first, then an owned object is deleted
// (never while selected); a stock object is only selected back out.
class ScopedSelection {
public:
    enum Ownership { OWNED, STOCK };

    ScopedSelection(HDC dc, HGDIOBJ object, Ownership ownership)
        : dc_(dc), object_(object), ownership_(ownership), previous_(nullptr) {
        if (dc_ != nullptr && object_ != nullptr) {
            previous_ = SelectObject(dc_, object_);
        }
    }

    ~ScopedSelection() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            SelectObject(dc_, previous_);
        }
        if (ownership_ == OWNED && object_ != nullptr) {
            DeleteObject(object_);
        }
    }

    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC dc_;
    HGDIOBJ object_;
    Ownership ownership_;
    HGDIOBJ previous_;
};

// A memory DC of our own, deleted with the guard. Declare it before the
// selections made into it, so they are undone first.
class ScopedMemoryDC {
public:
    ScopedMemoryDC() : dc_(CreateCompatibleDC(nullptr)) {}
    ~ScopedMemoryDC() {
        if (dc_ != nullptr) {
            DeleteDC(dc_);
        }
    }

    ScopedMemoryDC(const ScopedMemoryDC&) = delete;
    ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;

    HDC get() const { return dc_; }

private:
    HDC dc_;
};

#endif
