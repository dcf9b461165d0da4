#include "host/SuiteRegistry.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace host {

SuiteRegistry& SuiteRegistry::Instance() {
    static SuiteRegistry registry;
    return registry;
}

namespace {
SPBoolean IsEqualCB(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
SPErr AllocateBlockCB(size_t size, void** block) {
    if (!block) return kSPBadParameterError;
    *block = std::malloc(size ? size : 1);
    return *block ? kSPNoError : kSPOutOfMemoryError;
}
SPErr FreeBlockCB(void* block) {
    std::free(block);
    return kSPNoError;
}
SPErr ReallocateBlockCB(void* block, size_t size, void** out) {
    if (!out) return kSPBadParameterError;
    void* p = std::realloc(block, size ? size : 1);
    if (!p) return kSPOutOfMemoryError;
    *out = p;
    return kSPNoError;
}
SPErr UndefinedCB() { return kSPBadParameterError; }
}  // namespace

SuiteRegistry::SuiteRegistry() {
    m_basic.AcquireSuite = &AcquireSuiteCB;
    m_basic.ReleaseSuite = &ReleaseSuiteCB;
    m_basic.IsEqual = &IsEqualCB;
    m_basic.AllocateBlock = &AllocateBlockCB;
    m_basic.FreeBlock = &FreeBlockCB;
    m_basic.ReallocateBlock = &ReallocateBlockCB;
    m_basic.Undefined = &UndefinedCB;
}

SPErr SuiteRegistry::AcquireSuiteCB(const char* name, int32_t version, const void** suite) {
    return Instance().Acquire(name, version, suite);
}
SPErr SuiteRegistry::ReleaseSuiteCB(const char* name, int32_t version) {
    return Instance().Release(name, version);
}

void SuiteRegistry::Register(const std::string& name, int version, const void* suite) {
    std::lock_guard lock(m_mutex);
    m_suites[{name, version}] = suite;
}

void SuiteRegistry::Clear() {
    std::lock_guard lock(m_mutex);
    m_suites.clear();
    m_missing.clear();
    m_null.clear();
    m_books.clear();
    m_overReleased = 0;
}

void SuiteRegistry::SetMissing(const std::string& name, int version, bool missing) {
    std::lock_guard lock(m_mutex);
    if (missing)
        m_missing.insert({name, version});
    else
        m_missing.erase({name, version});
}

void SuiteRegistry::SetNull(const std::string& name, int version, bool null) {
    std::lock_guard lock(m_mutex);
    if (null)
        m_null.insert({name, version});
    else
        m_null.erase({name, version});
}

void SuiteRegistry::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_missing.clear();
    m_null.clear();
    m_failAcquisitionIn = 0;
}

void SuiteRegistry::FailAcquisition(long nth, bool null) {
    std::lock_guard lock(m_mutex);
    m_failAcquisitionIn = nth;
    m_failAsNull = null;
}

long SuiteRegistry::Acquisitions() const {
    std::lock_guard lock(m_mutex);
    return m_acquisitions;
}

std::string SuiteRegistry::LastRefused() const {
    std::lock_guard lock(m_mutex);
    return m_lastRefused;
}

SPErr SuiteRegistry::Acquire(const char* name, int32_t version, const void** suite) {
    if (!name || !suite) return kSPBadParameterError;
    std::lock_guard lock(m_mutex);
    SuiteKey key{name, version};
    auto it = m_suites.find(key);
    m_acquisitions++;
    const bool refused = m_failAcquisitionIn > 0 && --m_failAcquisitionIn == 0;
    if (refused) m_lastRefused = name;
    if (it == m_suites.end() || m_missing.count(key) || (refused && !m_failAsNull)) {
        *suite = nullptr;
        return kSPSuiteNotFoundError;
    }
    *suite = (m_null.count(key) || refused) ? nullptr : it->second;
    // A null hand-out still counts: the caller was told it succeeded.
    m_books[key].acquired++;
    return kSPNoError;
}

SPErr SuiteRegistry::Release(const char* name, int32_t version) {
    if (!name) return kSPBadParameterError;
    std::lock_guard lock(m_mutex);
    SuiteKey key{name, version};
    auto& books = m_books[key];
    if (books.released >= books.acquired) {
        m_overReleased++;
        return kSPBadParameterError;
    }
    books.released++;
    return kSPNoError;
}

std::map<SuiteKey, SuiteBooks> SuiteRegistry::Books() const {
    std::lock_guard lock(m_mutex);
    return m_books;
}

void SuiteRegistry::ResetBooks() {
    std::lock_guard lock(m_mutex);
    m_books.clear();
    m_overReleased = 0;
    m_acquisitions = 0;
}

long SuiteRegistry::Outstanding() const {
    std::lock_guard lock(m_mutex);
    long n = 0;
    for (const auto& [key, books] : m_books) n += books.acquired - books.released;
    return n;
}

long SuiteRegistry::Outstanding(const std::string& name, int version) const {
    std::lock_guard lock(m_mutex);
    auto it = m_books.find({name, version});
    return it == m_books.end() ? 0 : it->second.acquired - it->second.released;
}

long SuiteRegistry::Acquired(const std::string& name, int version) const {
    std::lock_guard lock(m_mutex);
    auto it = m_books.find({name, version});
    return it == m_books.end() ? 0 : it->second.acquired;
}

long SuiteRegistry::OverReleased() const {
    std::lock_guard lock(m_mutex);
    return m_overReleased;
}

std::string SuiteRegistry::Describe() const {
    std::lock_guard lock(m_mutex);
    std::ostringstream out;
    for (const auto& [key, books] : m_books) {
        if (books.acquired != books.released)
            out << '"' << key.name << "\" v" << key.version << ": acquired " << books.acquired << ", released "
                << books.released << "; ";
    }
    if (m_overReleased) out << m_overReleased << " release(s) without an acquire; ";
    return out.str();
}

}  // namespace host
