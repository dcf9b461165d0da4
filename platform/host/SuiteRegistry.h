// The host's basic suite: a registry of suites by name and version, with the
// books tests read (every acquire must be matched by one release).
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "SPBasic.h"

namespace host {

struct SuiteKey {
    std::string name;
    int version = 0;
    auto operator<=>(const SuiteKey&) const = default;
};

struct SuiteBooks {
    long acquired = 0;
    long released = 0;
};

class SuiteRegistry {
public:
    static SuiteRegistry& Instance();

    void Register(const std::string& name, int version, const void* suite);
    void Clear();

    // Fault injection: a suite the host claims not to have, or one it hands
    // out as a null pointer with no error.
    void SetMissing(const std::string& name, int version, bool missing = true);
    void SetNull(const std::string& name, int version, bool null = true);
    // The n-th acquisition from now (1 = the next), of any suite, is refused as missing, or
    // with `null` handed out as a null pointer; 0 clears.
    void FailAcquisition(long nth, bool null = false);
    long Acquisitions() const;  // acquisitions asked for so far, refused ones included
    std::string LastRefused() const;  // the name of the suite refused last by FailAcquisition
    void ClearFaults();

    // Books.
    std::map<SuiteKey, SuiteBooks> Books() const;
    void ResetBooks();
    long Outstanding() const;                     // acquires not yet released, all suites
    long Outstanding(const std::string& name, int version) const;
    long OverReleased() const;                    // releases with no acquire to match
    long Acquired(const std::string& name, int version) const;
    std::string Describe() const;                 // what is unbalanced, for failure messages

    SPBasicSuite* Basic() { return &m_basic; }

private:
    SuiteRegistry();
    SPErr Acquire(const char* name, int32_t version, const void** suite);
    SPErr Release(const char* name, int32_t version);

    static SPErr AcquireSuiteCB(const char* name, int32_t version, const void** suite);
    static SPErr ReleaseSuiteCB(const char* name, int32_t version);

    mutable std::mutex m_mutex;
    std::map<SuiteKey, const void*> m_suites;
    std::map<SuiteKey, SuiteBooks> m_books;
    std::set<SuiteKey> m_missing;
    std::set<SuiteKey> m_null;
    long m_overReleased = 0;
    long m_acquisitions = 0;
    long m_failAcquisitionIn = 0;
    bool m_failAsNull = false;
    std::string m_lastRefused;
    SPBasicSuite m_basic{};
};

}  // namespace host
