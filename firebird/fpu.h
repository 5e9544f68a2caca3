#pragma once

namespace qm {

// The x87 precision control around client calls: the binding sets extended
// precision once the library is loaded, and every result test restores the
// program's default control word, which a client library may have changed.
// Without an x87 unit both do nothing.
void SetExtendedFpuPrecision();
void RestoreDefaultFpuControl();

}  // namespace qm
