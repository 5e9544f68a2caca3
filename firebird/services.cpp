#include "firebird/services.h"

#include <algorithm>
#include <cstring>

#include "firebird/client_api.h"
#include "firebird/errors.h"
#include "platform/platform.h"

namespace qm {

namespace {

// The client API takes the lengths of the name, the requests and the answer
// buffer as unsigned 16-bit numbers.
constexpr std::size_t kMaxRequestLength = 65535;

constexpr std::uint8_t kActionBackup = isc_action_svc_backup;
constexpr std::uint8_t kActionRestore = isc_action_svc_restore;
constexpr std::uint8_t kActionRepair = isc_action_svc_repair;
// The restore option bit that this client generation's header has no name for.
constexpr std::uint32_t kRestoreValidationCheck = 0x8000;

struct SpbItem {
    const char* name;
    int tag;  // 0: known, but the attach request cannot carry it
};

const SpbItem kSpbItems[] = {
    {"user_name", isc_spb_user_name},
    {"password", isc_spb_password},
    {"command_line", isc_spb_command_line},
    {"sql_role_name", isc_spb_sql_role_name},
    {"sys_user_name", 0},
    {"sys_user_name_enc", 0},
    {"password_enc", 0},
    {"db_name", 0},
    {"verbose", 0},
    {"options", 0},
    {"connect_timeout", 0},
    {"dummy_packet_interval", 0},
    {"instance_name", 0},
};

const SpbItem* FindSpbItem(const std::string& name) {
    for (const SpbItem& item : kSpbItems) {
        if (name == item.name) return &item;
    }
    return nullptr;
}

}  // namespace

// --- TFbCustomService --------------------------------------------------------

TFbCustomService::TFbCustomService(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)), libraryName_(platform::kDefaultClientLibrary) {}

TFbCustomService::~TFbCustomService() {
    if (Active()) {
        try {
            Detach();
        } catch (...) {
        }
        handle_ = 0;
    }
}

void TFbCustomService::SetActive(bool value) {
    if (value == Active()) return;
    if (value) {
        Attach();
    } else {
        Detach();
    }
}

void TFbCustomService::SetServerName(const std::string& name) {
    if (name == serverName_) return;
    if (Active()) RaiseClientError(ceServiceAttached);
    serverName_ = name;
    if (protocol_ == TProtocol::Local && !serverName_.empty()) {
        protocol_ = TProtocol::TCP;
    } else if (protocol_ != TProtocol::Local && serverName_.empty()) {
        protocol_ = TProtocol::Local;
    }
}

void TFbCustomService::SetProtocol(TProtocol protocol) {
    if (protocol == protocol_) return;
    if (Active()) RaiseClientError(ceServiceAttached);
    protocol_ = protocol;
    if (protocol_ == TProtocol::Local) serverName_.clear();
}

void TFbCustomService::SetLibraryName(const std::string& name) {
    if (Active()) RaiseClientError(ceServiceAttached);
    if (name == libraryName_) return;
    libraryName_ = name;
    library_.reset();
}

void TFbCustomService::SetParams(std::vector<std::string> lines) {
    if (Active()) RaiseClientError(ceServiceAttached);
    params_ = std::move(lines);
    spbStale_ = true;
}

const TFbClientLibrary& TFbCustomService::Library() {
    if (!library_) library_ = AcquireClientLibrary(libraryName_);
    return *library_;
}

void TFbCustomService::Check(FbStatus status) {
    if (status <= 0) return;
    handle_ = 0;
    RaiseEngineError(Library(), this);
}

std::string TFbCustomService::ServiceManagerName() const {
    switch (protocol_) {
        case TProtocol::TCP:
            return serverName_ + ":service_mgr";
        case TProtocol::SPX:
            return serverName_ + "@service_mgr";
        case TProtocol::NamedPipe:
            return "\\\\" + serverName_ + "\\service_mgr";
        case TProtocol::Local:
            break;
    }
    return "service_mgr";
}

Bytes TFbCustomService::BuildAttachRequest(const std::vector<std::string>& params) {
    ParamBlockWriter w;
    w.Byte(isc_spb_version);
    w.Byte(isc_spb_current_version);
    for (const std::string& line : params) {
        const ParamLine p = SplitParamLine(line);
        if (!p.hasEquals || StripControl(p.name).empty()) continue;
        const std::string name = ParamItemName(p.name, "isc_spb_");
        const SpbItem* item = FindSpbItem(name);
        if (item == nullptr) RaiseClientError(ceSpbConstantUnknown);
        if (item->tag == 0) RaiseClientError(ceSpbConstantNotSupported);
        w.Byte(static_cast<std::uint8_t>(item->tag));
        w.ByteCountedText(p.value, ceSpbConstantNotSupported, std::string("isc_spb_") + item->name);
    }
    if (w.Data().size() > kMaxRequestLength) {
        RaiseClientErrorText(ceSpbConstantNotSupported,
                             "The service attach request is longer than " +
                                 std::to_string(kMaxRequestLength) + " bytes (" +
                                 std::to_string(w.Data().size()) + " bytes).");
    }
    return w.Take();
}

void TFbCustomService::Attach() {
    if (Active()) RaiseClientError(ceServiceAttached);
    if (serverName_.empty() && protocol_ != TProtocol::Local) RaiseClientError(ceServerNameMissing);
    if (spbStale_) {
        // Cleared only once the request is built, so that a refused line is
        // refused again at the next attach instead of the old request going out.
        spb_ = BuildAttachRequest(params_);
        spbStale_ = false;
    }
    const std::string serviceName = ServiceManagerName();
    if (serviceName.size() > kMaxRequestLength) {
        RaiseClientErrorText(
            ceServerNameMissing,
            "The server name is longer than " + std::to_string(kMaxRequestLength) + " bytes.");
    }
    const TFbClientLibrary& lib = Library();
    handle_ = 0;
    const FbStatus status = lib.Api().isc_service_attach(
        StatusVector(), static_cast<unsigned short>(serviceName.size()), serviceName.c_str(),
        &handle_, static_cast<unsigned short>(spb_.size()),
        reinterpret_cast<const ISC_SCHAR*>(spb_.data()));
    Check(status);
    if (OnAttach) OnAttach();
}

void TFbCustomService::Detach() {
    if (!Active()) RaiseClientError(ceServiceNotAttached);
    const TFbClientLibrary& lib = Library();
    const FbStatus status = lib.Api().isc_service_detach(StatusVector(), &handle_);
    handle_ = 0;
    Check(status);
}

// --- TFbControlService -------------------------------------------------------

void TFbControlService::AddStringCluster(const std::string& value, std::uint8_t tag,
                                         const std::string& itemName) {
    if (value.empty()) return;
    start_.Byte(tag);
    start_.WordCountedText(value, ceStartParamsError, itemName);
}

void TFbControlService::AddIntegerCluster(std::int32_t value, std::uint8_t tag) {
    start_.Byte(tag);
    start_.Int32LE(static_cast<std::uint32_t>(value));
}

void TFbControlService::AddFileList(const std::vector<std::string>& lines, std::uint8_t nameTag,
                                    const std::string& nameItem, std::uint8_t lengthTag) {
    for (const std::string& line : lines) {
        if (StripControl(line).empty()) continue;
        const ParamLine p = SplitParamLine(line);
        if (p.hasEquals) {
            AddStringCluster(p.name, nameTag, nameItem);
            AddIntegerCluster(StrToInt(p.value), lengthTag);
        } else {
            AddStringCluster(line, nameTag, nameItem);
        }
    }
}

void TFbControlService::StartServiceAction() {
    if (!Active()) RaiseClientError(ceServiceNotAttached);
    try {
        BuildStartRequest();
        const Bytes& request = start_.Data();
        if (request.empty()) RaiseClientError(ceStartParamsError);
        if (request.size() > kMaxRequestLength) {
            RaiseClientErrorText(ceStartParamsError,
                                 "The service start request is longer than " +
                                     std::to_string(kMaxRequestLength) + " bytes (" +
                                     std::to_string(request.size()) + " bytes).");
        }
        const TFbClientLibrary& lib = Library();
        const FbStatus status = lib.Api().isc_service_start(
            StatusVector(), HandleAddress(), nullptr, static_cast<unsigned short>(request.size()),
            reinterpret_cast<const ISC_SCHAR*>(request.data()));
        Check(status);
    } catch (...) {
        ClearStartRequest();
        throw;
    }
    ClearStartRequest();
}

// --- TFbControlAndQueryService -----------------------------------------------

void TFbControlAndQueryService::SetBufferSize(std::int32_t size) {
    // The buffer takes the new size at the next query, which sizes it anew.
    bufferSize_ = size;
}

void TFbControlAndQueryService::ResetOutput(std::int32_t action) {
    outputEnded_ = false;
    serviceAction_ = action;
}

std::string TFbControlAndQueryService::ReadOutputLine() {
    if (outputEnded_) return {};
    if (serviceAction_ == 0) RaiseClientError(ceQueryParamsError);

    const char request[] = {isc_info_svc_line};
    const std::size_t length = std::min<std::size_t>(std::max(bufferSize_, 0), kMaxRequestLength);
    // Zeroed before every query, so that what the server did not write reads
    // as a malformed answer and never as the rest of an earlier line. One byte
    // more than is offered, so that even an empty buffer has an address.
    output_.assign(length + 1, 0);

    const TFbClientLibrary& lib = Library();
    const FbStatus status = lib.Api().isc_service_query(
        StatusVector(), HandleAddress(), nullptr, 0, nullptr, sizeof request, request,
        static_cast<unsigned short>(length), output_.data());
    Check(status);

    // The answer: the line item, the line's length in two bytes (least
    // significant first), the line, the end marker. The length is the
    // server's word and is only believed when the whole answer fits.
    const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(output_[at]); };
    if (length < 3 || byte(0) != isc_info_svc_line) RaiseClientError(ceOutputParsingError);
    const std::size_t n = std::size_t{byte(1)} | (std::size_t{byte(2)} << 8);
    if (n + 4 > length || byte(n + 3) != isc_info_end) RaiseClientError(ceOutputParsingError);
    if (n == 0) {
        outputEnded_ = true;
        return {};
    }
    outputEnded_ = false;
    const char* text = output_.data() + 3;
    return std::string(text, strnlen(text, n));
}

// --- the three actions -------------------------------------------------------

void TFbBackupService::BuildStartRequest() {
    if (DatabaseName.empty()) RaiseClientError(ceStartParamsError);
    std::uint32_t options = 0;
    const std::pair<TBackupOption, std::uint32_t> bits[] = {
        {TBackupOption::IgnoreChecksums, isc_spb_bkp_ignore_checksums},
        {TBackupOption::IgnoreLimbo, isc_spb_bkp_ignore_limbo},
        {TBackupOption::MetadataOnly, isc_spb_bkp_metadata_only},
        {TBackupOption::NoGarbageCollection, isc_spb_bkp_no_garbage_collect},
        {TBackupOption::OldMetadataDesc, isc_spb_bkp_old_descriptions},
        {TBackupOption::NonTransportable, isc_spb_bkp_non_transportable},
        {TBackupOption::ConvertExtTables, isc_spb_bkp_convert},
    };
    for (const auto& [option, bit] : bits) {
        if (Options.Contains(option)) options |= bit;
    }
    ResetOutput(1);
    ClearStartRequest();
    AddByte(kActionBackup);
    AddStringCluster(DatabaseName, isc_spb_dbname, "isc_spb_dbname");
    AddIntegerCluster(static_cast<std::int32_t>(options), isc_spb_options);
    if (Verbose) AddByte(isc_spb_verbose);
    if (BlockingFactor > 0) AddIntegerCluster(BlockingFactor, isc_spb_bkp_factor);
    AddFileList(BackupFile, isc_spb_bkp_file, "isc_spb_bkp_file", isc_spb_bkp_length);
}

void TFbRestoreService::BuildStartRequest() {
    std::uint32_t options = 0;
    const std::pair<TRestoreOption, std::uint32_t> bits[] = {
        {TRestoreOption::DeactivateIndexes, isc_spb_res_deactivate_idx},
        {TRestoreOption::NoShadow, isc_spb_res_no_shadow},
        {TRestoreOption::NoValidityCheck, isc_spb_res_no_validity},
        {TRestoreOption::OneRelationAtATime, isc_spb_res_one_at_a_time},
        {TRestoreOption::Replace, isc_spb_res_replace},
        {TRestoreOption::CreateNewDB, isc_spb_res_create},
        {TRestoreOption::UseAllSpace, isc_spb_res_use_all_space},
        {TRestoreOption::ValidationCheck, kRestoreValidationCheck},
        {TRestoreOption::OnlyMetadata, isc_spb_res_metadata_only},
    };
    for (const auto& [option, bit] : bits) {
        if (Options.Contains(option)) options |= bit;
    }
    ResetOutput(2);
    ClearStartRequest();
    AddByte(kActionRestore);
    AddIntegerCluster(static_cast<std::int32_t>(options), isc_spb_options);
    if (Verbose) AddByte(isc_spb_verbose);
    if (PageSize > 0) AddIntegerCluster(PageSize, isc_spb_res_page_size);
    if (PageBuffers > 0) AddIntegerCluster(PageBuffers, isc_spb_res_buffers);
    AddFileList(BackupFile, isc_spb_bkp_file, "isc_spb_bkp_file", isc_spb_bkp_length);
    AddFileList(DatabaseName, isc_spb_dbname, "isc_spb_dbname", isc_spb_res_length);
}

void TFbValidationService::BuildStartRequest() {
    ResetOutput(3);
    if (DatabaseName.empty()) RaiseClientError(ceStartParamsError);
    std::uint32_t first = 0;
    if (Options.Contains(TValidateOption::SweepDB)) first |= isc_spb_rpr_sweep_db;
    if (Options.Contains(TValidateOption::ValidateDB)) first |= isc_spb_rpr_validate_db;
    ClearStartRequest();
    AddByte(kActionRepair);
    AddStringCluster(DatabaseName, isc_spb_dbname, "isc_spb_dbname");
    if (first > 0) AddIntegerCluster(static_cast<std::int32_t>(first), isc_spb_options);

    std::uint32_t second = 0;
    if (Options.Contains(TValidateOption::LimboTransactions))
        second |= isc_spb_rpr_list_limbo_trans;
    if (Options.Contains(TValidateOption::CheckDB)) second |= isc_spb_rpr_check_db;
    if (Options.Contains(TValidateOption::IgnoreChecksum)) second |= isc_spb_rpr_ignore_checksum;
    if (Options.Contains(TValidateOption::KillShadows)) second |= isc_spb_rpr_kill_shadows;
    if (Options.Contains(TValidateOption::MendDB)) second |= isc_spb_rpr_mend_db;
    if (Options.Contains(TValidateOption::ValidateFull)) {
        // A full validation also asks for the record check, unless the
        // database is being mended.
        second |= isc_spb_rpr_full;
        if (!Options.Contains(TValidateOption::MendDB)) second |= isc_spb_rpr_validate_db;
    }
    if (second > 0) AddIntegerCluster(static_cast<std::int32_t>(second), isc_spb_options);
}

// --- state and facts of the server and its databases --------------------------

std::string TFbServerInfoService::ServerVersion() {
    if (!Active()) RaiseClientError(ceServiceNotAttached);
    const char request[] = {isc_info_svc_server_version};
    constexpr std::size_t kLength = 1024;
    std::vector<char> answer(kLength, 0);
    const TFbClientLibrary& lib = Library();
    const FbStatus status = lib.Api().isc_service_query(
        StatusVector(), HandleAddress(), nullptr, 0, nullptr, sizeof request, request,
        static_cast<unsigned short>(kLength), answer.data());
    Check(status);
    InfoCursor cursor(answer.data(), answer.size(), "isc_info_svc_server_version");
    if (cursor.Byte() != isc_info_svc_server_version) cursor.Fail("the version item");
    const std::string version = cursor.Text(cursor.UInt16());
    if (cursor.Byte() != isc_info_end) cursor.Fail("the end marker");
    return version;
}

void TFbPropertiesService::BuildStartRequest() {
    ResetOutput(isc_action_svc_properties);
    if (DatabaseName.empty()) RaiseClientError(ceStartParamsError);
    ClearStartRequest();
    AddByte(isc_action_svc_properties);
    AddStringCluster(DatabaseName, isc_spb_dbname, "isc_spb_dbname");
    // The mode is one byte, unlike the other clusters' four.
    if (Action == TAction::Shutdown) {
        AddByte(isc_spb_prp_shutdown_mode);
        AddByte(static_cast<std::uint8_t>(Mode));
        AddIntegerCluster(ForceAfter, isc_spb_prp_force_shutdown);
    } else if (Action == TAction::Online) {
        AddByte(isc_spb_prp_online_mode);
        AddByte(static_cast<std::uint8_t>(Mode));
    } else {
        AddIntegerCluster(isc_spb_prp_nolinger, isc_spb_options);
    }
}

void TFbOnlineValidationService::BuildStartRequest() {
    ResetOutput(isc_action_svc_validate);
    if (DatabaseName.empty()) RaiseClientError(ceStartParamsError);
    ClearStartRequest();
    AddByte(isc_action_svc_validate);
    AddStringCluster(DatabaseName, isc_spb_dbname, "isc_spb_dbname");
}

void ReadOutputToEnd(TFbControlAndQueryService& service,
                     const std::function<void(const std::string&)>& onLine) {
    while (!service.OutputEnded()) {
        const std::string line = service.ReadOutputLine();
        if (!line.empty() && onLine) onLine(line);
    }
}

}  // namespace qm
