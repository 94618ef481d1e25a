#pragma once
// The outcome of a hand-over as one JSON object (--report FILE), for a program to read:
// each photo's name in temp and its fate, the uploader's boxes with their texts and times,
// when the tool asked the uploader to close and when the uploader's process ended, and the
// tool's verdict with its exit status. Times are seconds since the tool started.
// Filled by the command's thread and, when the command's limit runs out, written by the
// limit's thread: every use takes the lock.

#include <windows.h>

#include <string>
#include <vector>

// A photo's fate as the report gives it.
namespace Fate {
inline constexpr char Delivered[] = "delivered";    // it left temp: the album confirmed it
inline constexpr char Kept[] = "kept";              // still in temp once the wait ended
inline constexpr char HandedOver[] = "handed over"; // poked; the tool did not wait for the end
inline constexpr char NameWaits[] = "refused: its name already waits in temp";
inline constexpr char NotHandedOver[] = "not handed over"; // the hand-over stopped before it
} // namespace Fate

class Report {
  public:
    Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    double Elapsed() const;

    // A photo of this hand-over, under its name in temp; leftover when it already waited
    // there and was handed over without a copy. Its fate starts as not handed over.
    void AddPhoto(const std::string& name, const std::string& source, bool leftover);
    void SetFate(const std::string& name, const char* fate);
    // The names whose fate is still fate.
    std::vector<std::string> NamesWithFate(const char* fate) const;

    // A box of the uploader, seen now and answered with answer ("ok", "yes", "no",
    // "cancel").
    void AddAlert(const std::string& caption, const std::string& text, const char* answer);
    void CloseRequested();
    void UploaderEnded();

    // Writes the object to path; nothing when path is empty. False when it could not be
    // written.
    bool Write(const std::string& path, int exitStatus) const;

  private:
    struct Photo {
        std::string name;
        std::string source;
        bool leftover;
        const char* fate;
    };
    struct Alert {
        double time;
        std::string caption;
        std::string text;
        const char* answer;
    };

    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    DWORD start_;
    SYSTEMTIME startedAt_;
    std::vector<Photo> photos_;
    std::vector<Alert> alerts_;
    double closeRequested_ = -1;
    double uploaderEnded_ = -1;
};

// What the tool's exit status says, in words.
const char* VerdictOf(int exitStatus);
