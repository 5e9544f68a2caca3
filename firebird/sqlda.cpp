#include "firebird/sqlda.h"

#include <algorithm>
#include <new>

#include "firebird/errors.h"

namespace qm {

namespace {

std::size_t TypeSize(const XSQLVAR& v) {
    const auto len = static_cast<std::size_t>(v.sqllen);
    switch (BaseType(v)) {
        case SQL_TEXT:
            return len;
        case SQL_VARYING:
            return len + 2;
        case SQL_SHORT:
            return 2;
        case SQL_LONG:
        case SQL_FLOAT:
        case SQL_TYPE_DATE:
        case SQL_TYPE_TIME:
            return 4;
        case SQL_INT64:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
        case SQL_TIMESTAMP:
        case SQL_BLOB:
        case SQL_ARRAY:
        case SQL_QUAD:
            return 8;
        case SQL_BOOLEAN:
            return 1;
        default:
            return len;
    }
}

void BadDescriptor(const std::string& what) {
    RaiseClientErrorText(ceOutputParsingError,
                         std::string(ClientErrorFormat(ceOutputParsingError)) +
                             ": the statement descriptor " + what + ".");
}

}  // namespace

SqlDa::SqlDa(int capacity) {
    capacity = std::max(capacity, 1);
    const std::size_t bytes = XSQLDA_LENGTH(static_cast<std::size_t>(capacity));
    void* raw = ::operator new(bytes);
    std::fill_n(static_cast<char*>(raw), bytes, '\0');
    da_ = static_cast<XSQLDA*>(raw);
    da_->version = SQLDA_VERSION1;
    da_->sqln = static_cast<ISC_SHORT>(capacity);
    da_->sqld = 0;
}

SqlDa::~SqlDa() { ::operator delete(da_); }

int SqlDa::Count() const {
    if (da_->sqld < 0 || da_->sqld > da_->sqln) {
        BadDescriptor("claims " + std::to_string(da_->sqld) + " variables in room for " +
                      std::to_string(da_->sqln));
    }
    return da_->sqld;
}

// The variables follow the header in the one allocation; indexing from the
// first through a pointer keeps to that allocation.
XSQLVAR& SqlDa::Var(int index) { return *(&da_->sqlvar[0] + index); }
const XSQLVAR& SqlDa::Var(int index) const { return *(&da_->sqlvar[0] + index); }

void SqlDa::BindBuffers() {
    const int n = Count();
    data_.assign(static_cast<std::size_t>(n), {});
    sizes_.assign(static_cast<std::size_t>(n), 0);
    indicators_.assign(static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        XSQLVAR& v = Var(i);
        if (v.sqllen < 0)
            BadDescriptor("gives variable " + std::to_string(i) + " a negative length");
        // Every variable is made nullable so that its indicator is always read
        // and written.
        v.sqltype = static_cast<ISC_SHORT>(v.sqltype | 1);
        v.sqlind = &indicators_[static_cast<std::size_t>(i)];
        Buffer(i, std::max<std::size_t>(TypeSize(v), static_cast<std::size_t>(v.sqllen)));
    }
}

char* SqlDa::Buffer(int index, std::size_t size) {
    auto& buffer = data_.at(static_cast<std::size_t>(index));
    buffer.assign(std::max<std::size_t>(1, (size + 7) / 8), 0);
    sizes_.at(static_cast<std::size_t>(index)) = size;
    char* p = reinterpret_cast<char*>(buffer.data());
    Var(index).sqldata = p;
    return p;
}

std::size_t SqlDa::BufferSize(int index) const {
    return sizes_.at(static_cast<std::size_t>(index));
}

bool SqlDa::IsNull(int index) const {
    const XSQLVAR& v = Var(index);
    return (v.sqltype & 1) != 0 && v.sqlind != nullptr && *v.sqlind == -1;
}

}  // namespace qm
