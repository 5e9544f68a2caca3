#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "firebird/binding.h"
#include "firebird/component.h"
#include "firebird/param_block.h"

// The services client: components that attach to the service manager of a
// Firebird server, send one start request (backup, restore, validation) and
// read the server's output line by line until it ends.
//
// Every failure is raised: EFbClientError for the component's own refusals,
// EFbEngineError (origin the component) when the client library reports an
// error, the binding failures of AcquireClientLibrary when the library is
// missing or lacks the service entry points, EConvertError for a bad number
// in a file line. After any failed client call the component has no service
// handle any more (it reads as not active) although it never detached.
namespace qm {

// How the service manager is named: Local is the server of this machine;
// the others reach ServerName over the network.
enum class TProtocol : int { TCP = 0, SPX = 1, NamedPipe = 2, Local = 3 };

// A set of the values of a small enumeration (at most 32 values).
template <class E>
class TOptionSet {
public:
    constexpr TOptionSet() = default;
    constexpr TOptionSet(std::initializer_list<E> items) {
        for (E e : items) Include(e);
    }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr TOptionSet& Include(E e) {
        bits_ |= Bit(e);
        return *this;
    }
    constexpr TOptionSet& Exclude(E e) {
        bits_ &= ~Bit(e);
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TOptionSet&) const = default;

private:
    static constexpr std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<unsigned>(e); }
    std::uint32_t bits_ = 0;
};

enum class TBackupOption : int {
    IgnoreChecksums,
    IgnoreLimbo,
    MetadataOnly,
    NoGarbageCollection,
    OldMetadataDesc,
    NonTransportable,
    ConvertExtTables,
};
using TBackupOptions = TOptionSet<TBackupOption>;

enum class TRestoreOption : int {
    DeactivateIndexes,
    NoShadow,
    NoValidityCheck,
    OneRelationAtATime,
    Replace,
    CreateNewDB,
    UseAllSpace,
    ValidationCheck,
    OnlyMetadata,
};
using TRestoreOptions = TOptionSet<TRestoreOption>;

enum class TValidateOption : int {
    LimboTransactions,
    CheckDB,
    IgnoreChecksum,
    KillShadows,
    MendDB,
    SweepDB,
    ValidateDB,
    ValidateFull,
};
using TValidateOptions = TOptionSet<TValidateOption>;

enum class TTransactionGlobalAction : int {
    CommitGlobal,
    RollbackGlobal,
    RecoverTwoPhaseGlobal,
    NoGlobalAction,
};

// The attachment to a service manager.
class TFbCustomService : public TComponent {
public:
    explicit TFbCustomService(TComponent* owner = nullptr, std::string name = {});
    // Detaches when attached (errors are swallowed), then drops the binding.
    ~TFbCustomService() override;

    // True exactly while the component holds a service handle.
    bool Active() const { return handle_ != 0; }
    // true attaches, false detaches; nothing when the value is the current state.
    void SetActive(bool value);

    const std::string& ServerName() const { return serverName_; }
    // A different name raises client error 66 while attached. A name given
    // under Local switches to TCP; an empty name under a remote protocol
    // switches to Local.
    void SetServerName(const std::string& name);

    TProtocol Protocol() const { return protocol_; }
    // A different protocol raises client error 66 while attached; Local
    // empties ServerName.
    void SetProtocol(TProtocol protocol);

    const std::string& LibraryName() const { return libraryName_; }
    // Client error 66 while attached (even for the same name); a new name
    // drops the component's binding, so the next call acquires the new one.
    void SetLibraryName(const std::string& name);

    // Ordered name=value lines, the source of the attach request. Any change
    // while attached raises client error 66.
    const std::vector<std::string>& Params() const { return params_; }
    void SetParams(std::vector<std::string> lines);

    // Kept for completeness; no login is ever asked for.
    bool LoginPrompt = true;
    // Called after a successful attach.
    std::function<void()> OnAttach;

    // Raises client error 66 when attached, 67 when a remote protocol has no
    // server name, 72/73 (or a too-long-value refusal, also 72) for a Params
    // line the request cannot carry, then the binding failures and the
    // server's refusal. A failed attach leaves the component without a handle.
    void Attach();
    // Raises client error 65 when not attached. The handle is dropped whatever
    // the server answers; its error is raised afterwards.
    void Detach();

    // The name the attach call is given: "service_mgr" for Local, otherwise
    // the remote form that combines ServerName with it.
    std::string ServiceManagerName() const;

    // The attach request for parameter lines: 2, 2, then tag, one length byte
    // and value for each line whose name part is not blank. Raises client
    // error 72 for a name the request cannot carry or a value over 255 bytes,
    // 73 for an unknown name.
    static Bytes BuildAttachRequest(const std::vector<std::string>& params);
    // The attach request of the last attach (empty before the first).
    const Bytes& AttachRequest() const { return spb_; }

    FbHandle Handle() const { return handle_; }

protected:
    // The binding for LibraryName, acquired at the first call.
    const TFbClientLibrary& Library();
    FbHandle* HandleAddress() { return &handle_; }
    // The test after every client call: a status above 0 drops the handle and
    // raises the engine error with this component as origin.
    void Check(FbStatus status);

private:
    std::string serverName_;
    TProtocol protocol_ = TProtocol::Local;
    std::string libraryName_;
    std::vector<std::string> params_;

    IFbClientLibrary library_;
    FbHandle handle_ = 0;
    Bytes spb_;
    bool spbStale_ = true;
};

// Adds the start request.
class TFbControlService : public TFbCustomService {
public:
    using TFbCustomService::TFbCustomService;

    // Builds the start request of the component's class and sends it. Raises
    // client error 65 when not attached, 69 when the request is empty or does
    // not fit its 16-bit length, the errors of BuildStartRequest, and the
    // server's refusal (the handle is then dropped). StartRequest is empty
    // afterwards, whatever happened.
    void StartServiceAction();

    // Fills StartRequest for the component's class and sets ServiceAction.
    virtual void BuildStartRequest() = 0;
    const Bytes& StartRequest() const { return start_.Data(); }

protected:
    // Nothing for an empty value; otherwise the tag, the value's length in two
    // bytes (least significant first) and the value. A value over 65535 bytes
    // raises client error 69 naming itemName.
    void AddStringCluster(const std::string& value, std::uint8_t tag, const std::string& itemName);
    // The tag and the value in four bytes, least significant first.
    void AddIntegerCluster(std::int32_t value, std::uint8_t tag);
    void AddByte(std::uint8_t b) { start_.Byte(b); }
    void ClearStartRequest() { start_ = ParamBlockWriter(); }

    // The lines of a file list: for each line that is not blank, a name
    // cluster of nameTag and, when the line has "=", the name before it and a
    // length cluster of lengthTag from the decimal number after it.
    void AddFileList(const std::vector<std::string>& lines, std::uint8_t nameTag,
                     const std::string& nameItem, std::uint8_t lengthTag);

private:
    ParamBlockWriter start_;
};

// Adds the reading of the output.
class TFbControlAndQueryService : public TFbControlService {
public:
    using TFbControlService::TFbControlService;

    std::int32_t BufferSize() const { return bufferSize_; }
    // The buffer the server's answers are written into. The client API takes
    // its length in 16 bits, so at most 65535 bytes of it are used.
    void SetBufferSize(std::int32_t size);

    // 0 before any start request; 1 backup, 2 restore, 3 validation.
    std::int32_t ServiceAction() const { return serviceAction_; }
    bool OutputEnded() const { return outputEnded_; }

    // The next line of the running action's output. An answer with an empty
    // line ends the output: OutputEnded becomes true and "" is returned, as it
    // is on every later call, without asking the server again. Raises client
    // error 68 when no action was started, 70 when the answer is not one line
    // item that fits the buffer and is followed by the end marker, and the
    // engine error of the query (the action failed; the handle is dropped).
    std::string ReadOutputLine();

protected:
    void ResetOutput(std::int32_t action);

private:
    std::int32_t bufferSize_ = 32000;
    std::int32_t serviceAction_ = 0;
    bool outputEnded_ = false;
    std::vector<char> output_;
};

// Adds Verbose.
class TFbBackupRestoreService : public TFbControlAndQueryService {
public:
    using TFbControlAndQueryService::TFbControlAndQueryService;

    bool Verbose = false;
};

class TFbBackupService : public TFbBackupRestoreService {
public:
    using TFbBackupRestoreService::TFbBackupRestoreService;

    std::string DatabaseName;
    // Archive files; a line "file=length" caps the file at length bytes.
    std::vector<std::string> BackupFile;
    std::int32_t BlockingFactor = 0;
    TBackupOptions Options;

    // 1; dbname; options; [verbose]; [blocking factor]; the archive files.
    // Client error 69 for an empty DatabaseName.
    void BuildStartRequest() override;
};

class TFbRestoreService : public TFbBackupRestoreService {
public:
    using TFbBackupRestoreService::TFbBackupRestoreService;

    // Database files to create; a line "file=length" caps the file.
    std::vector<std::string> DatabaseName;
    std::vector<std::string> BackupFile;
    std::int32_t PageSize = 4096;
    std::int32_t PageBuffers = 0;
    TRestoreOptions Options{TRestoreOption::CreateNewDB};

    // 2; options; [verbose]; [page size]; [page buffers]; the archive files;
    // the database files.
    void BuildStartRequest() override;
};

class TFbValidationService : public TFbControlAndQueryService {
public:
    using TFbControlAndQueryService::TFbControlAndQueryService;

    std::string DatabaseName;
    TValidateOptions Options;
    // For limbo-transaction repair, which the start request never carries.
    TTransactionGlobalAction GlobalAction = TTransactionGlobalAction::CommitGlobal;

    // 3; dbname; [first options]; [second options]. Client error 69 for an
    // empty DatabaseName.
    void BuildStartRequest() override;
};

// Asks the service manager about the server itself.
class TFbServerInfoService : public TFbCustomService {
public:
    using TFbCustomService::TFbCustomService;

    // The server's version text, for example "LI-V3.0.11.33637 Firebird 3.0".
    // Raises client error 65 when not attached, 70 when the answer is not the
    // version item followed by the end marker inside the buffer, and the
    // engine error of the query.
    std::string ServerVersion();
};

// How far a database is shut down: Multi lets in SYSDBA and the owner,
// Single one of their attachments, Full nobody. Normal is online.
enum class TShutdownMode : int { Normal = 0, Multi = 1, Single = 2, Full = 3 };

// Changes the state of a database: shuts it down, brings it back online.
// The server sends no output; the action has ended (or failed) once the
// output has ended.
class TFbPropertiesService : public TFbControlAndQueryService {
public:
    using TFbControlAndQueryService::TFbControlAndQueryService;

    // NoLinger lets the server close the database at once when its last
    // attachment ends, this once, whatever its LINGER says.
    enum class TAction { Shutdown, Online, NoLinger };

    std::string DatabaseName;
    TAction Action = TAction::Online;
    // The shutdown's target, or the state brought online to (Normal).
    TShutdownMode Mode = TShutdownMode::Normal;
    // Seconds the shutdown waits before it breaks off every attachment.
    std::int32_t ForceAfter = 0;

    // 8; dbname; shutdown mode and force timeout, online mode, or the options
    // cluster with the no-linger bit. Client error 69 for an empty DatabaseName.
    void BuildStartRequest() override;
};

// The check of a database that others keep using: tables and indices are
// read under their locks, without the exclusive access the full validation
// needs. Its output reports progress as well as findings.
class TFbOnlineValidationService : public TFbControlAndQueryService {
public:
    using TFbControlAndQueryService::TFbControlAndQueryService;

    std::string DatabaseName;

    // 30; dbname. Client error 69 for an empty DatabaseName.
    void BuildStartRequest() override;
};

// Reads the running action's output to its end, passing every non-empty line.
void ReadOutputToEnd(TFbControlAndQueryService& service,
                     const std::function<void(const std::string&)>& onLine);

}  // namespace qm
