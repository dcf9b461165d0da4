// Owners of DRAWBOT objects: each reference is released exactly once through
// the supplier suite it came from.
#pragma once

#include <exception>

#include "DrawbotSuite.h"

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
        if (!m_ref) return;
        RefType ref = m_ref;
        m_ref = nullptr;
        A_Err err = m_supplier->ReleaseObject(reinterpret_cast<DRAWBOT_ObjectRef>(ref));
        if (err) throw DRAWBOT_Exception(err);
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
    ~DRAWBOT_PathP() override = default;
};
