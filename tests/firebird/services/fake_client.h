#pragma once

// The test's hold on the scripted client library (fake_fbclient.c): the same
// loaded instance that the binding uses, reached through its fake_* controls.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firebird/component.h"
#include "firebird/param_block.h"
#include "platform/dynlib.h"

namespace qm::test {

class FakeClient {
public:
    static constexpr const char* kPath = QM_FAKE_SERVICES_LIB;

    FakeClient() {
        platform::LibraryError err;
        module_ = platform::OpenLibrary(kPath, &err);
        if (module_ == nullptr) {
            ADD_FAILURE() << "cannot load " << kPath << ": " << err.text;
            return;
        }
        Find(reset_, "fake_reset");
        Find(push_, "fake_push_answer");
        Find(fail_, "fake_fail_next");
        Find(attachRequest_, "fake_last_attach_request");
        Find(startRequest_, "fake_last_start_request");
        Find(serviceName_, "fake_last_service_name");
        Find(bufferLength_, "fake_last_buffer_length");
        Find(calls_, "fake_calls");
        reset_();
    }
    ~FakeClient() {
        if (module_ != nullptr) platform::CloseLibrary(module_);
    }
    FakeClient(const FakeClient&) = delete;
    FakeClient& operator=(const FakeClient&) = delete;

    // The next query answers these bytes (cut to the buffer it is given).
    void PushAnswer(const Bytes& bytes) { push_(bytes.data(), static_cast<int>(bytes.size())); }
    // The next call of the named service function fails with the engine code.
    void FailNext(const char* call, long code) { fail_(call, code); }

    Bytes LastAttachRequest() const { return Copy(attachRequest_); }
    Bytes LastStartRequest() const { return Copy(startRequest_); }
    std::string LastServiceName() const { return serviceName_(); }
    int LastBufferLength() const { return bufferLength_(); }
    int Calls(const char* call) const { return calls_(call); }

private:
    template <class F>
    void Find(F& slot, const char* name) {
        slot = reinterpret_cast<F>(platform::FindSymbol(module_, name));
        ASSERT_NE(slot, nullptr) << name;
    }
    static Bytes Copy(int (*get)(unsigned char*, int)) {
        Bytes out(static_cast<std::size_t>(get(nullptr, 0)));
        get(out.data(), static_cast<int>(out.size()));
        return out;
    }

    void* module_ = nullptr;
    void (*reset_)() = nullptr;
    void (*push_)(const unsigned char*, int) = nullptr;
    void (*fail_)(const char*, long) = nullptr;
    int (*attachRequest_)(unsigned char*, int) = nullptr;
    int (*startRequest_)(unsigned char*, int) = nullptr;
    const char* (*serviceName_)() = nullptr;
    int (*bufferLength_)() = nullptr;
    int (*calls_)(const char*) = nullptr;
};

// The owners the data module gives its components: the main window and dm.
struct DataModuleOwners {
    TComponent moorquill{nullptr, "Moorquill"};
    TComponent dm{&moorquill, "dm"};
};

}  // namespace qm::test
