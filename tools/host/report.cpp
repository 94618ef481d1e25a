#include "report.h"

#include "exit_status.h"
#include "json_text.h"

#include <cstdio>

namespace {

class Held {
  public:
    explicit Held(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Held() { ReleaseSRWLockExclusive(&lock_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

  private:
    SRWLOCK& lock_;
};

// Room for one number or date of the report.
constexpr int NumberRoom = 32;

std::string Seconds(double seconds) {
    if (seconds < 0)
        return "null";
    char text[NumberRoom];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

} // namespace

const char* VerdictOf(int exitStatus) {
    switch (exitStatus) {
    case AllDone:
        return "done";
    case FilesLeft:
        return "photos kept in temp";
    case UsageError:
        return "usage";
    case ServiceMissing:
        return "the uploader's service did not answer";
    case ConnectionRefused:
        return "the uploader refused the connection";
    case NotAcknowledged:
        return "a transaction was not acknowledged";
    case TimedOut:
        return "timed out";
    case NameWaits:
        return "a name already waits in temp";
    default:
        return "failed";
    }
}

Report::Report() : start_(GetTickCount()) {
    GetLocalTime(&startedAt_);
}

double Report::Elapsed() const {
    return (GetTickCount() - start_) / 1000.0;
}

void Report::AddPhoto(const std::string& name, const std::string& source, bool leftover) {
    Held held(lock_);
    photos_.push_back(Photo{name, source, leftover, Fate::NotHandedOver});
}

void Report::SetFate(const std::string& name, const char* fate) {
    Held held(lock_);
    for (Photo& photo : photos_) {
        if (photo.name == name)
            photo.fate = fate;
    }
}

std::vector<std::string> Report::NamesWithFate(const char* fate) const {
    Held held(lock_);
    std::vector<std::string> names;
    for (const Photo& photo : photos_) {
        if (photo.fate == fate)
            names.push_back(photo.name);
    }
    return names;
}

void Report::AddAlert(const std::string& caption, const std::string& text, const char* answer) {
    const double now = Elapsed();
    Held held(lock_);
    alerts_.push_back(Alert{now, caption, text, answer});
}

void Report::CloseRequested() {
    const double now = Elapsed();
    Held held(lock_);
    closeRequested_ = now;
}

void Report::UploaderEnded() {
    const double now = Elapsed();
    Held held(lock_);
    if (uploaderEnded_ < 0)
        uploaderEnded_ = now;
}

bool Report::Write(const std::string& path, int exitStatus) const {
    if (path.empty())
        return true;
    Held held(lock_);
    char startedAt[NumberRoom];
    std::snprintf(startedAt, sizeof startedAt, "%04u-%02u-%02uT%02u:%02u:%02u",
                  static_cast<unsigned>(startedAt_.wYear), static_cast<unsigned>(startedAt_.wMonth),
                  static_cast<unsigned>(startedAt_.wDay), static_cast<unsigned>(startedAt_.wHour),
                  static_cast<unsigned>(startedAt_.wMinute),
                  static_cast<unsigned>(startedAt_.wSecond));
    std::string json = std::string("{\"started\":\"") + startedAt + "\",\"photos\":[";
    for (size_t i = 0; i < photos_.size(); ++i) {
        const Photo& photo = photos_[i];
        json += (i ? "," : "") + std::string("{\"name\":") + JsonText(photo.name) +
                ",\"source\":" + JsonText(photo.source) +
                ",\"leftover\":" + (photo.leftover ? "true" : "false") +
                ",\"fate\":" + JsonText(photo.fate) + "}";
    }
    json += "],\"alerts\":[";
    for (size_t i = 0; i < alerts_.size(); ++i) {
        const Alert& alert = alerts_[i];
        json += (i ? "," : "") + std::string("{\"time\":") + Seconds(alert.time) +
                ",\"caption\":" + JsonText(alert.caption) + ",\"text\":" + JsonText(alert.text) +
                ",\"answer\":" + JsonText(alert.answer) + "}";
    }
    json += "],\"close\":" + Seconds(closeRequested_) + ",\"exit\":" + Seconds(uploaderEnded_) +
            ",\"verdict\":" + JsonText(VerdictOf(exitStatus)) +
            ",\"status\":" + std::to_string(exitStatus) + "}\n";
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "VistoraHost: cannot write the report %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(json.data(), 1, json.size(), out) == json.size();
    return std::fclose(out) == 0 && written;
}
