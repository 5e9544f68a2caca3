#include "firebird/errors.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "firebird/client_api.h"

namespace qm {

namespace {

std::mutex gTextPartsLock;
ErrorTextParts gTextParts;

// The error codes of a status vector. It is a run of clusters, each a kind
// and one argument, except a counted string, which has a length and a
// pointer; the run ends at isc_arg_end or at the end of the array.
std::vector<std::int32_t> StatusErrorCodes(const FbStatus* status) {
    std::vector<std::int32_t> codes;
    for (int i = 0; i + 1 < kStatusVectorLength && status[i] != isc_arg_end;) {
        const FbStatus kind = status[i];
        if (kind == isc_arg_gds) codes.push_back(static_cast<std::int32_t>(status[i + 1]));
        i += kind == isc_arg_cstring ? 3 : 2;
    }
    return codes;
}

// Rows that no part of this system raises are left empty.
const std::array<const char*, kClientErrorCount> kClientErrorMessages = {
    "Unknown error.",                                            // 0
    "Unsupported feature.",                                      // 1
    "Not permitted.",                                            // 2
    "Temporary file access error.",                              // 3
    "Database connection timed out.",                            // 4
    "Cannot set database.",                                      // 5
    "Cannot set transaction.",                                   // 6
    "Operation cancelled at user's request.",                    // 7
    "DPB Constant (isc_dpb_%s) is unsupported.",                 // 8
    "DPB Constant (%s) is unknown.",                             // 9
    "TPB Constant (isc_tpb_%s) is unsupported.",                 // 10
    "TPB Constant (%s) is unknown.",                             // 11
    "%s: Cannot perform operation -- DB is not open.",           // 12
    "Cannot perform operation -- DB is currently open.",         // 13
    "Database name is missing.",                                 // 14
    "%s :Transaction is not active.",                            // 15
    "%s :Transaction is active.",                                // 16
    "Timeout values cannot be negative.",                        // 17
    "%s :No databases are listed in transaction component.",     // 18
    "%s :Updating wrong database.",                              // 19
    "%s :Updating wrong transaction.",                           // 20
    "Database not assigned for %s.",                             // 21
    "Transaction not assigned for %s.",                          // 22
    "XSQLDA index out of range.",                                // 23
    "XSQLDA name does not exist (%s).",                          // 24
    "End of file.",                                              // 25
    "Beginning of file.",                                        // 26
    "%s:Invalid statement handle.",                              // 27
    "Can't %s because %s dataset open.",                         // 28
    "Can't %s because %s dataset closed.",                       // 29
    "Unknown SQL Data type (%d).",                               // 30
    "Invalid column index (index exceeds permitted range).",     // 31
    "Invalid parameter index (index exceeds permitted range).",  // 32
    "Invalid data conversion.",                                  // 33
    "Column cannot be set to null (%s)",                         // 34
    "Blob stream cannot be read.",                               // 35
    "Blob stream cannot be written.",                            // 36
    "Can't %s , because  query is empty",                        // 37
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",                                                   // 38..50
    "SQL Parse Error in :%s \r\n\r\n%s",                  // 51
    "User abort.",                                        // 52
    "",                                                   // 53
    "Cannot create shared resource. (Windows error %d)",  // 54
    "Windows API error. (Windows error %d [$%.8x])",      // 55
    "",
    "",
    "",
    "",
    "",                     // 56..60
    "SQL Dialect invalid",  // 61
    "",
    "",
    "",                                                     // 62..64
    "Cannot perform operation -- service is not attached",  // 65
    "Cannot perform operation -- service is attached",      // 66
    "Server Name Missing",                                  // 67
    "Query Parameters missing or incorrect",                // 68
    "Start Parameters missing or incorrect",                // 69
    "Unexpected Output buffer value",                       // 70
    "",                                                     // 71
    "SPB Constant Not supported",                           // 72
    "SPB Constant Unknown",                                 // 73
    "",
    "",
    "",
    "",
    "",  // 74..78
};

bool IsLowerAscii(char c) { return c >= 'a' && c <= 'z'; }

void CapitaliseFirst(std::string& s) {
    if (!s.empty() && IsLowerAscii(s[0])) s[0] = static_cast<char>(s[0] - 'a' + 'A');
}

void RemoveAll(std::string& s, const std::string& what) {
    for (auto pos = s.find(what); pos != std::string::npos; pos = s.find(what, pos)) {
        s.erase(pos, what.size());
    }
}

std::string TextUpToNul(const char* buffer, std::size_t size) {
    return std::string(buffer, strnlen(buffer, size));
}

std::string NumberText(std::int64_t n) { return std::to_string(n); }

std::string HexText8(std::int64_t n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.8x", static_cast<unsigned>(static_cast<std::uint32_t>(n)));
    return buf;
}

std::string ArgAsText(const ClientErrorArg* arg) {
    if (arg == nullptr) return {};
    if (auto* s = std::get_if<std::string>(&arg->value)) return *s;
    return NumberText(std::get<std::int64_t>(arg->value));
}

std::int64_t ArgAsNumber(const ClientErrorArg* arg) {
    if (arg == nullptr) return 0;
    if (auto* n = std::get_if<std::int64_t>(&arg->value)) return *n;
    return 0;
}

}  // namespace

EOSError::EOSError(int code, const std::string& systemText, std::string entryPoint)
    : EFbLibraryError(code == 0
                          ? std::string("A call to an OS function failed")
                          : "System Error.  Code: " + std::to_string(code) + ".\r\n" + systemText),
      code_(code),
      entryPoint_(std::move(entryPoint)) {}

EFbError::EFbError(FbErrorParts parts)
    : EDatabaseError(std::string()),
      sqlCode_(parts.sqlCode),
      engineErrorCode_(static_cast<std::int32_t>(StatusVector()[1])),
      engineErrorCodes_(std::move(parts.engineErrorCodes)),
      originName_(parts.origin != nullptr ? parts.origin->OriginName() : std::string()),
      sqlErrorText_(std::move(parts.sqlErrorText)),
      engineErrorText_(std::move(parts.engineErrorText)),
      addedText_(std::move(parts.addedText)),
      plainText_(std::move(parts.plainText)),
      origin_(parts.origin) {
    const ErrorTextParts flags = GetErrorTextParts();
    std::string message;
    if (flags.includeOriginName && originName_.size() > 1) message += originName_ + ":\r\n";
    if (flags.includeSQLText) message += sqlErrorText_;
    if (flags.includeEngineText) message += engineErrorText_;
    if (!addedText_.empty()) message += addedText_;
    message += plainText_;
    SetMessage(std::move(message));
}

bool EFbError::HasEngineErrorCode(std::int32_t code) const {
    for (std::int32_t c : engineErrorCodes_)
        if (c == code) return true;
    return false;
}

ErrorTextParts GetErrorTextParts() {
    std::lock_guard guard(gTextPartsLock);
    return gTextParts;
}

void SetErrorTextParts(const ErrorTextParts& parts) {
    std::lock_guard guard(gTextPartsLock);
    gTextParts = parts;
}

EFbEngineError MakeEngineError(const TFbClientLibrary& library, const TComponent* origin) {
    const ErrorTextParts flags = GetErrorTextParts();
    const FbClientApi& api = library.Api();
    FbStatus* status = StatusVector();

    FbErrorParts parts;
    parts.origin = origin;
    parts.engineErrorCodes = StatusErrorCodes(status);
    parts.sqlCode = static_cast<std::int32_t>(api.isc_sqlcode(status));

    if (flags.includeSQLText) {
        constexpr short kSqlTextSize = 1024;
        std::vector<char> buffer(kSqlTextSize + 1, '\0');
        api.isc_sql_interprete(static_cast<short>(parts.sqlCode), buffer.data(), kSqlTextSize);
        std::string text = TextUpToNul(buffer.data(), buffer.size());
        RemoveAll(text, "\\n");
        if (!text.empty()) {
            CapitaliseFirst(text);
            if (text.back() != '.') text += ".\r\n";
        }
        parts.sqlErrorText = std::move(text);
    }

    if (flags.includeEngineText) {
        // The renderer walks a copy that ends in an extra isc_arg_end, so a
        // vector that the library left without one is never read past its
        // end; a renderer that stops advancing cannot loop for ever either.
        std::array<ISC_STATUS, kStatusVectorLength + 1> copy{};
        std::copy(status, status + kStatusVectorLength, copy.begin());
        ISC_STATUS* cursor = copy.data();
        const ISC_STATUS* const end = copy.data() + kStatusVectorLength;
        constexpr std::size_t kMessageSize = 20480;
        std::vector<char> buffer(kMessageSize, '\0');
        std::string text;
        while (cursor < end) {
            buffer[0] = '\0';
            ISC_STATUS* before = cursor;
            if (api.isc_interprete(buffer.data(), &cursor) <= 0) break;
            buffer.back() = '\0';
            std::string message = TextUpToNul(buffer.data(), buffer.size());
            if (!message.empty()) {
                CapitaliseFirst(message);
                text += message;
                if (text.back() != '.') text += '.';
                text += "\r\n";
            }
            if (cursor <= before || cursor > end) break;
        }
        parts.engineErrorText = std::move(text);
    }
    return EFbEngineError(std::move(parts));
}

void RaiseEngineError(const TFbClientLibrary& library, const TComponent* origin) {
    throw MakeEngineError(library, origin);
}

const char* ClientErrorFormat(int number) {
    if (number < 0 || number >= kClientErrorCount) number = 0;
    return kClientErrorMessages[static_cast<std::size_t>(number)];
}

std::string FormatClientError(int number, std::initializer_list<ClientErrorArg> args) {
    const std::string format = ClientErrorFormat(number);
    std::string out;
    auto next = args.begin();
    auto take = [&]() -> const ClientErrorArg* { return next != args.end() ? &*next++ : nullptr; };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        if (format.compare(i, 2, "%s") == 0) {
            out += ArgAsText(take());
            ++i;
        } else if (format.compare(i, 2, "%d") == 0) {
            out += NumberText(ArgAsNumber(take()));
            ++i;
        } else if (format.compare(i, 4, "%.8x") == 0) {
            out += HexText8(ArgAsNumber(take()));
            i += 3;
        } else if (format[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

EFbClientError MakeClientError(int number, std::initializer_list<ClientErrorArg> args) {
    FbErrorParts parts;
    parts.sqlCode = number;
    parts.plainText = FormatClientError(number, args);
    return EFbClientError(std::move(parts));
}

void RaiseClientError(int number, std::initializer_list<ClientErrorArg> args) {
    throw MakeClientError(number, args);
}

void RaiseClientErrorText(int number, const std::string& text) {
    FbErrorParts parts;
    parts.sqlCode = number;
    parts.plainText = text;
    throw EFbClientError(std::move(parts));
}

std::int32_t StrToInt(const std::string& text) {
    std::int32_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    // from_chars takes a minus sign but not a plus sign.
    if (first != last && *first == '+' && first + 1 != last && first[1] != '-') ++first;
    auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (text.empty() || ec != std::errc() || ptr != last) {
        throw EConvertError("'" + text + "' is not a valid integer value");
    }
    return value;
}

}  // namespace qm
