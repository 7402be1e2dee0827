// Test-only: which vendor VISA library resource managers opened from now on forward to. The
// application never includes this header; it gets the choice made once per process from the
// setting (see VendorLibrary.h).
#pragma once

#include <memory>

#include "VendorLibrary.h"

namespace visa {

// Null: the built-in transports. Returns the previous choice; sessions already open keep theirs.
std::shared_ptr<VendorLibrary> SetVendorLibrary(std::shared_ptr<VendorLibrary> library);

class ScopedVendorLibrary {
public:
    explicit ScopedVendorLibrary(std::shared_ptr<VendorLibrary> library)
        : m_previous(SetVendorLibrary(std::move(library))) {}
    ~ScopedVendorLibrary() { SetVendorLibrary(m_previous); }
    ScopedVendorLibrary(const ScopedVendorLibrary&) = delete;
    ScopedVendorLibrary& operator=(const ScopedVendorLibrary&) = delete;

private:
    std::shared_ptr<VendorLibrary> m_previous;
};

}  // namespace visa
