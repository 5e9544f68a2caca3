#pragma once

// The client API's statement descriptors (XSQLDA) with the buffers their
// variables point at. Includes ibase.h: for the .cpp files of the layer only.

#include <ibase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qm {

struct SqlDa {
    // A descriptor with room for `capacity` variables (at least one).
    explicit SqlDa(int capacity);
    ~SqlDa();
    SqlDa(const SqlDa&) = delete;
    SqlDa& operator=(const SqlDa&) = delete;

    XSQLDA* get() { return da_; }
    int Capacity() const { return da_->sqln; }
    // The number of variables the server described; raises client error 70
    // when it claims more than the descriptor holds or a negative number.
    int Count() const;
    XSQLVAR& Var(int index);
    const XSQLVAR& Var(int index) const;

    // Gives every described variable a data buffer of the size its type and
    // length need, and a null indicator; raises client error 70 for a
    // negative length.
    void BindBuffers();
    // A buffer of `size` bytes for variable `index`, pointed at by its sqldata.
    char* Buffer(int index, std::size_t size);
    // The size of the buffer of variable `index`.
    std::size_t BufferSize(int index) const;

    bool IsNull(int index) const;

private:
    XSQLDA* da_ = nullptr;
    std::vector<std::vector<std::int64_t>> data_;
    std::vector<std::size_t> sizes_;
    std::vector<short> indicators_;
};

// The base type of a variable (its nullable bit cleared).
inline int BaseType(const XSQLVAR& v) { return v.sqltype & ~1; }

}  // namespace qm
