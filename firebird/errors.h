#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "firebird/binding.h"
#include "firebird/component.h"

namespace qm {

// The general database error: an ordinary exception carrying a Message.
class EDatabaseError : public std::exception {
public:
    explicit EDatabaseError(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

protected:
    void SetMessage(std::string message) { message_ = std::move(message); }

private:
    std::string message_;
};

// The pieces of an EFbError and where it came from.
struct FbErrorParts {
    std::int32_t sqlCode = 0;
    std::string sqlErrorText;
    std::string engineErrorText;
    std::string addedText;
    std::string plainText;
    const TComponent* origin = nullptr;
    std::vector<std::int32_t> engineErrorCodes;
};

// The error family of the access layer. Message is composed from the pieces:
// the origin line (OriginName + ":\r\n", when longer than one character), the
// SQL text, the engine text, AddedText and PlainText, each as ErrorTextParts
// allows. EngineErrorCode is entry 1 of the calling thread's status vector when
// the error is built.
class EFbError : public EDatabaseError {
public:
    explicit EFbError(FbErrorParts parts);

    // The SQL code derived from the status vector for an engine error; the
    // client error number for a client error.
    std::int32_t SQLCode() const { return sqlCode_; }
    std::int32_t EngineErrorCode() const { return engineErrorCode_; }
    // Every error code the status vector carried when the error was built, in
    // order (the first is EngineErrorCode); empty for a client error.
    const std::vector<std::int32_t>& EngineErrorCodes() const { return engineErrorCodes_; }
    bool HasEngineErrorCode(std::int32_t code) const;
    const std::string& OriginName() const { return originName_; }
    const std::string& SQLErrorText() const { return sqlErrorText_; }
    const std::string& EngineErrorText() const { return engineErrorText_; }
    const std::string& AddedText() const { return addedText_; }
    const std::string& PlainText() const { return plainText_; }
    // The component that raised the error; not owned, and may be gone by the
    // time the error is handled.
    const TComponent* Origin() const { return origin_; }

private:
    std::int32_t sqlCode_;
    std::int32_t engineErrorCode_;
    std::vector<std::int32_t> engineErrorCodes_;
    std::string originName_;
    std::string sqlErrorText_;
    std::string engineErrorText_;
    std::string addedText_;
    std::string plainText_;
    const TComponent* origin_;
};

// A client call reported an error in the status vector.
class EFbEngineError : public EFbError {
public:
    using EFbError::EFbError;
};

// The layer refused a call before it reached the client library.
class EFbClientError : public EFbError {
public:
    using EFbError::EFbError;
};

// Which pieces an error message is composed of. The process starts with
// engine text, SQL text and origin name included; IncludeSQLCode is read by
// nothing.
struct ErrorTextParts {
    bool includeEngineText = true;
    bool includeSQLText = true;
    bool includeOriginName = true;
    bool includeSQLCode = false;
};
ErrorTextParts GetErrorTextParts();  // under the flags' own lock
void SetErrorTextParts(const ErrorTextParts& parts);

// Builds an EFbEngineError from the calling thread's status vector through
// the binding's isc_sqlcode, isc_sql_interprete and isc_interprete, and raises
// it. Must run on the thread whose call failed, before its next client call.
[[noreturn]] void RaiseEngineError(const TFbClientLibrary& library, const TComponent* origin);
EFbEngineError MakeEngineError(const TFbClientLibrary& library, const TComponent* origin);

// An argument of a client error text: text for %s, a number for %d and %.8x.
using FbFormatArg = std::variant<std::string, std::int64_t>;
struct ClientErrorArg {
    FbFormatArg value;
    ClientErrorArg(const std::string& s) : value(s) {}
    ClientErrorArg(const char* s) : value(std::string(s)) {}
    ClientErrorArg(int n) : value(std::int64_t{n}) {}
    ClientErrorArg(std::int64_t n) : value(n) {}
};

// Numbers of the client error table that the layer raises.
enum ClientErrorNo : int {
    ceUnknownError = 0,
    ceDpbConstantUnsupported = 8,
    ceDpbConstantUnknown = 9,
    ceTpbConstantUnsupported = 10,
    ceTpbConstantUnknown = 11,
    ceDatabaseClosed = 12,
    ceDatabaseOpen = 13,
    ceDatabaseNameMissing = 14,
    ceNotInTransaction = 15,
    ceInTransaction = 16,
    ceNoDatabasesInTransaction = 18,
    ceDatabaseNotAssigned = 21,
    ceTransactionNotAssigned = 22,
    ceXsqldaIndexOutOfRange = 23,
    ceInvalidStatementHandle = 27,
    ceUnknownSQLDataType = 30,
    ceInvalidColumnIndex = 31,
    ceInvalidParamColumnIndex = 32,
    ceInvalidDataConversion = 33,
    ceBlobCannotBeRead = 35,
    ceBlobCannotBeWritten = 36,
    ceEmptyQuery = 37,
    ceSQLParseError = 51,
    ceInvalidSQLDialect = 61,
    ceServiceNotAttached = 65,
    ceServiceAttached = 66,
    ceServerNameMissing = 67,
    ceQueryParamsError = 68,
    ceStartParamsError = 69,
    ceOutputParsingError = 70,
    ceSpbConstantNotSupported = 72,
    ceSpbConstantUnknown = 73,
};

inline constexpr int kClientErrorCount = 79;

// The format text of a row of the client error table ("" for the rows this
// system does not use; row 0 for a number outside 0..78).
const char* ClientErrorFormat(int number);

// The table text of the number formatted with the arguments (%s, %d, %.8x; a
// missing argument formats as nothing or 0).
std::string FormatClientError(int number, std::initializer_list<ClientErrorArg> args = {});

// An EFbClientError with SQLCode = number and PlainText = the formatted text,
// no origin: its message is the formatted text alone.
EFbClientError MakeClientError(int number, std::initializer_list<ClientErrorArg> args = {});
[[noreturn]] void RaiseClientError(int number, std::initializer_list<ClientErrorArg> args = {});

// A client error of the number whose text is given rather than taken from the
// table; for refusals the table has no row for (a value too long for its
// parameter block, a server answer that does not fit its buffer).
[[noreturn]] void RaiseClientErrorText(int number, const std::string& text);

// The conversion error of the decimal integer reader: "'<value>' is not a
// valid integer value". A plain error, not an EFbError.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// Reads a decimal integer (an optional sign and digits, nothing else) that
// fits 32 bits; raises EConvertError "'<text>' is not a valid integer value"
// otherwise.
std::int32_t StrToInt(const std::string& text);

}  // namespace qm
