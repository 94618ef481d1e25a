#pragma once
// Collects what the code under test writes with OutputDebugStringA, for the duration of one
// scope. OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text; a first vectored
// handler sees it on every thread before any debugger-less fallback does.

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

class DebugOutputCapture {
  public:
    DebugOutputCapture() {
        Current() = this;
        handler_ = AddVectoredExceptionHandler(1, &DebugOutputCapture::Handler);
    }
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;
    ~DebugOutputCapture() {
        RemoveVectoredExceptionHandler(handler_);
        Current() = nullptr;
    }

    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    bool Contains(const std::string& text) {
        for (const std::string& line : Lines()) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

  private:
    static DebugOutputCapture*& Current() {
        static DebugOutputCapture* current = nullptr;
        return current;
    }

    static LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers) {
        const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
        DebugOutputCapture* capture = Current();
        if (capture == nullptr || record->ExceptionCode != DBG_PRINTEXCEPTION_C ||
            record->NumberParameters < 2)
            return EXCEPTION_CONTINUE_SEARCH;
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        std::lock_guard<std::mutex> lock(capture->mutex_);
        capture->lines_.push_back(text != nullptr ? text : "");
        return EXCEPTION_CONTINUE_EXECUTION;
    }

    PVOID handler_ = nullptr;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};
