// Owners of DRAWBOT objects: each reference is released exactly once through
// the supplier suite it came from.
#pragma once

#include <deque>
#include <exception>
#include <initializer_list>

#include "AE_EffectSuites.h"

class DRAWBOT_Exception : public std::exception {
public:
    explicit DRAWBOT_Exception(A_Err err) : m_err(err) {}
    A_Err Error() const { return m_err; }

private:
    A_Err m_err;
};

template <typename RefType>
class SharedRefImpl {
public:
    SharedRefImpl(const DRAWBOT_SupplierSuite1* supplier, RefType ref = nullptr) : m_ref(ref), m_supplier(supplier) {}
    // Releasing can only fail on a host fault; a throw here ends the process, as for any destructor.
    virtual ~SharedRefImpl() { ReleaseObject(); }
    SharedRefImpl(const SharedRefImpl&) = delete;
    SharedRefImpl& operator=(const SharedRefImpl&) = delete;

    void ReleaseObject() {
        if (A_Err err = Release()) throw DRAWBOT_Exception(err);
    }
    // The same, handing back the host's answer instead of throwing it.
    A_Err Release() {
        if (!m_ref) return A_Err_NONE;
        RefType ref = m_ref;
        m_ref = nullptr;
        return m_supplier->ReleaseObject(reinterpret_cast<DRAWBOT_ObjectRef>(ref));
    }
    RefType Get() const { return m_ref; }
    operator RefType() const { return m_ref; }

protected:
    RefType m_ref;
    const DRAWBOT_SupplierSuite1* m_supplier;
};

class DRAWBOT_PathP : public SharedRefImpl<DRAWBOT_PathRef> {
public:
    DRAWBOT_PathP(const DRAWBOT_SupplierSuite1* supplier, DRAWBOT_SupplierRef supplier_ref)
        : SharedRefImpl(supplier) {
        A_Err err = m_supplier->NewPath(supplier_ref, &m_ref);
        if (err) {
            m_ref = nullptr;
            throw DRAWBOT_Exception(err);
        }
    }
};

// The drawing target of one event: the context's drawing reference, its supplier and its surface, and every
// DRAWBOT object made on it, each released once through the supplier suite, at the latest when the target goes.
// Each step is its own call, so every drawing keeps its own order of host calls.
class UF_Drawing {
public:
    UF_Drawing(const DRAWBOT_DrawbotSuite1* draw, const DRAWBOT_SupplierSuite1* supplier)
        : m_draw(draw), m_supplierSuite(supplier) {}
    ~UF_Drawing() { Release(); }
    UF_Drawing(const UF_Drawing&) = delete;
    UF_Drawing& operator=(const UF_Drawing&) = delete;

    // Through either version of the custom UI suite.
    template <typename CustomUISuite>
    PF_Err Reference(const CustomUISuite* customUI, PF_ContextH context) {
        return customUI->PF_GetDrawingReference(context, &m_drawing);
    }
    PF_Err GetSupplier() { return m_draw->GetSupplier(m_drawing, &m_supplier); }
    PF_Err GetSurface() { return m_draw->GetSurface(m_drawing, &m_surface); }
    // The reference, then its supplier and its surface, each while there is a reference and no error.
    template <typename CustomUISuite>
    PF_Err Open(const CustomUISuite* customUI, PF_ContextH context) {
        PF_Err err = Reference(customUI, context);
        if (!err && m_drawing) err = GetSupplier();
        if (!err && m_drawing) err = GetSurface();
        return err;
    }
    DRAWBOT_DrawRef Drawing() const { return m_drawing; }
    DRAWBOT_SupplierRef Supplier() const { return m_supplier; }
    DRAWBOT_SurfaceRef Surface() const { return m_surface; }

    // Made on the supplier; whatever the host hands out is kept, even with an error.
    PF_Err NewPen(const DRAWBOT_ColorRGBA* colour, float size, DRAWBOT_PenRef* out) {
        return Keep(m_supplierSuite->NewPen(m_supplier, colour, size, out), out);
    }
    PF_Err NewBrush(const DRAWBOT_ColorRGBA* colour, DRAWBOT_BrushRef* out) {
        return Keep(m_supplierSuite->NewBrush(m_supplier, colour, out), out);
    }
    PF_Err NewDefaultFont(float size, DRAWBOT_FontRef* out) {
        return Keep(m_supplierSuite->NewDefaultFont(m_supplier, size, out), out);
    }
    PF_Err NewPath(DRAWBOT_PathRef* out) { return Keep(m_supplierSuite->NewPath(m_supplier, out), out); }
    PF_Err NewImageFromBuffer(A_long width, A_long height, A_long rowBytes, DRAWBOT_PixelLayout layout,
                              const void* pixels, DRAWBOT_ImageRef* out) {
        return Keep(m_supplierSuite->NewImageFromBuffer(m_supplier, width, height, rowBytes, layout, pixels, out),
                    out);
    }

    // The given objects in that order, or with none given all that are held, newest first; the first error counts.
    PF_Err Release(std::initializer_list<const void*> objects = {}) {
        PF_Err first = PF_Err_NONE;
        auto release = [&](SharedRefImpl<DRAWBOT_ObjectRef>& o) {
            const PF_Err err = o.Release();
            if (!first) first = err;
        };
        for (const void* ref : objects)
            for (auto& o : m_objects)
                if (o.Get() == ref) release(o);
        if (objects.size() == 0)
            for (auto it = m_objects.rbegin(); it != m_objects.rend(); ++it) release(*it);
        return first;
    }

private:
    // Read after the call has written it.
    template <typename Ref>
    PF_Err Keep(PF_Err err, Ref* out) {
        if (*out) m_objects.emplace_back(m_supplierSuite, reinterpret_cast<DRAWBOT_ObjectRef>(*out));
        return err;
    }

    const DRAWBOT_DrawbotSuite1* m_draw;
    const DRAWBOT_SupplierSuite1* m_supplierSuite;
    DRAWBOT_DrawRef m_drawing = nullptr;
    DRAWBOT_SupplierRef m_supplier = nullptr;
    DRAWBOT_SurfaceRef m_surface = nullptr;
    std::deque<SharedRefImpl<DRAWBOT_ObjectRef>> m_objects;
};
