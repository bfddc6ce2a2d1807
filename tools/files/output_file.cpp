#include "tools/files/output_file.hpp"

#include "base/exception.hpp"
#include "tools/files/messages.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <random>
#include <string>

namespace Tools {

namespace fs = std::filesystem;

namespace {

// The temporary files that exist, for the signal handler to remove. A table of fixed size, so
// that the handler touches nothing but these bytes; a slot is filled before it is marked used
// and marked free before it is filled again. Only the program's main thread makes outputs.
struct Slot {
    std::atomic<bool> used;
    char path[PATH_MAX];
};
static_assert(std::atomic<bool>::is_always_lock_free);
constexpr std::size_t slot_count = 16;
Slot slots[slot_count];

constexpr int cleaned_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void remove_temporaries(int signal) {
    for (Slot& slot : slots) {
        if (slot.used.load()) {
            ::unlink(slot.path);
        }
    }
    // The handler was reset to the default on entry: once it returns, the signal ends the
    // program as it would have without us.
    ::raise(signal);
}

// Holds back the signals above while the table and the files on disk change together, so that
// the handler never removes a file that is not, or no longer, a temporary of ours.
class Signals_Held {
public:
    Signals_Held() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : cleaned_signals) {
            sigaddset(&held, signal);
        }
        ::sigprocmask(SIG_BLOCK, &held, &before_);
    }
    ~Signals_Held() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
    Signals_Held(const Signals_Held&) = delete;
    Signals_Held& operator=(const Signals_Held&) = delete;

private:
    sigset_t before_;
};

// Signals that the program's starter has set to be ignored (nohup) stay ignored.
void install_handlers() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    struct sigaction action {};
    action.sa_handler = remove_temporaries;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    for (const int signal : cleaned_signals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : cleaned_signals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
            old.sa_handler == SIG_DFL) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

[[noreturn]] void refuse(const fs::path& target, const std::string& reason) {
    throw Tavrin::Exception{"cannot write '" + printable(target.string()) + "': " + reason};
}

// The file that writing `target` replaces: the target itself, or the end of its chain of links.
// A link in /proc (/dev/stdout leads to /proc/self/fd/1) stands for a file that is open already,
// perhaps for appending: it is not replaced.
fs::path destination_of(const fs::path& target) {
    fs::path current = target;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0) {
            if (hop == 0) {
                return target; // a new file
            }
            refuse(target, "it is a symbolic link to a file that does not exist");
        }
        if (!S_ISLNK(status.st_mode)) {
            return current;
        }
        std::error_code error;
        if (fs::absolute(current, error).lexically_normal().string().starts_with("/proc/")) {
            refuse(target, "it stands for a file that is open already, such as standard output; "
                           "name a file");
        }
        const fs::path next = fs::read_symlink(current, error);
        if (error) {
            refuse(target, error.message());
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    refuse(target, std::strerror(ELOOP));
}

// A short name, so that the target's own name may be as long as the system allows: the start of
// the target's name, to tell what the file is if it outlives a crash, and six random characters.
std::string temporary_name(const fs::path& destination) {
    static std::mt19937_64 random{std::random_device{}()};
    constexpr std::size_t kept = 32;
    std::string name = destination.filename().string();
    if (name.size() > kept) {
        std::size_t cut = kept;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut; // not inside a UTF-8 character
        }
        name.resize(cut);
    }
    constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    name += '.';
    for (int i = 0; i < 6; ++i) {
        name += letters[random() % (sizeof letters - 1)];
    }
    return name + ".tmp";
}

} // namespace

struct Output_File::Temporary {
    Slot* slot;

    const char* path() const { return slot->path; }
};

void Output_File::Remover::operator()(Temporary* temporary) const {
    const Signals_Held held;
    ::unlink(temporary->path());
    temporary->slot->used.store(false);
    delete temporary;
}

Output_File::Output_File(fs::path target)
    : target_{std::move(target)}, destination_{destination_of(target_)} {
    if (!destination_.has_filename()) {
        refuse(target_, "it names no file");
    }
    struct stat status {};
    const bool exists = ::stat(destination_.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) {
        refuse(target_, "it is a directory");
    }
    if (exists && !S_ISREG(status.st_mode)) {
        refuse(target_, "it is not a regular file");
    }

    Slot* slot = nullptr;
    for (Slot& free : slots) {
        if (!free.used.load()) {
            slot = &free;
            break;
        }
    }
    if (slot == nullptr) {
        refuse(target_, "more than " + std::to_string(slot_count) + " outputs at once");
    }
    install_handlers();
    const fs::path folder = destination_.has_parent_path() ? destination_.parent_path() : ".";
    int file = -1;
    for (int attempt = 0; attempt < 100 && file < 0; ++attempt) {
        const std::string candidate = (folder / temporary_name(destination_)).string();
        if (candidate.size() >= PATH_MAX) {
            refuse(target_, std::strerror(ENAMETOOLONG));
        }
        std::memcpy(slot->path, candidate.c_str(), candidate.size() + 1);
        const Signals_Held held;
        file = ::open(slot->path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const int error = errno;
        if (file >= 0) {
            slot->used.store(true);
        } else if (error != EEXIST) {
            refuse(target_, std::strerror(error));
        }
    }
    if (file < 0) {
        refuse(target_, "no free temporary name beside it");
    }
    temporary_.reset(new Temporary{slot});

    if (exists) {
        // Only the superuser may give the file to its owner, and only a member its group;
        // where neither is allowed the new file stays the user's own.
        if (::fchown(file, status.st_uid, status.st_gid) != 0) {
            [[maybe_unused]] const int ignored =
                ::fchown(file, static_cast<uid_t>(-1), status.st_gid);
        }
        if (::fchmod(file, status.st_mode & 0777) != 0) {
            const int error = errno;
            ::close(file);
            refuse(target_, std::string("cannot keep its permissions: ") + std::strerror(error));
        }
    }
    file_.reset(::fdopen(file, "wb"));
    if (!file_) {
        const int error = errno;
        ::close(file);
        refuse(target_, std::strerror(error));
    }
}

void Output_File::commit() {
    errno = 0;
    const bool written = std::fflush(file_.get()) == 0 && std::ferror(file_.get()) == 0;
    int error = errno;
    const bool closed = std::fclose(file_.release()) == 0;
    if (error == 0) {
        error = errno;
    }
    if (!written || !closed) {
        throw Tavrin::Exception{"could not write all of '" + printable(target_.string()) +
                                "': " + (error != 0 ? std::strerror(error) : "write error")};
    }
    const Signals_Held held;
    if (::rename(temporary_->path(), destination_.c_str()) != 0) {
        error = errno;
        throw Tavrin::Exception{"could not put '" + printable(target_.string()) +
                                "' in place: " + std::strerror(error)};
    }
    temporary_->slot->used.store(false); // renamed: nothing left to remove
    delete temporary_.release();
}

bool names_standard_output(const fs::path& target) {
    const std::string name = target.string();
    return name == "-" || name == "/dev/stdout" || name == "/dev/fd/1" || name == "/proc/self/fd/1";
}

Output::Output(fs::path target) {
    if (!names_standard_output(target)) {
        file_.emplace(std::move(target));
    }
}

void Output::commit() {
    if (file_) {
        file_->commit();
    } else {
        std::fflush(stdout);
    }
}

namespace {

fs::path spelled_out(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return fs::weakly_canonical(absolute.parent_path(), error) / absolute.filename();
}

} // namespace

bool same_file(const fs::path& a, const fs::path& b) {
    struct stat status_a {};
    struct stat status_b {};
    const bool a_exists = ::stat(a.c_str(), &status_a) == 0;
    const bool b_exists = ::stat(b.c_str(), &status_b) == 0;
    if (a_exists || b_exists) {
        return a_exists && b_exists && status_a.st_dev == status_b.st_dev &&
               status_a.st_ino == status_b.st_ino;
    }
    return spelled_out(a) == spelled_out(b);
}

} // namespace Tools
