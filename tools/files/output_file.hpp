#pragma once

// Output files that appear only complete, and only where they replace nothing but a regular
// file:
//
//     Tools::Output_File file("shot.png");  // throws Tavrin::Exception when it may not be written
//     std::fputs(..., file.stream());
//     file.commit();                         // the target now holds it all, with its old mode
//
// The bytes go to a temporary file beside the target, under a short name of its own (so that a
// target whose name has the longest length allowed works), which `commit` renames over the
// target. Until then the target is untouched, and a holder dropped without a commit, as well as
// SIGINT, SIGTERM, SIGHUP or SIGPIPE, removes the temporary.
//
// The target may be a regular file, which keeps its permission bits (and, when the user may
// give it, its owner), or a name not yet taken, which gets the mode that the umask leaves of
// 0666. A symbolic link is written through: the file it leads to is replaced and the link kept.
// A directory, a device such as /dev/null, a FIFO, a socket, or a link that stands for an open
// file (/dev/stdout) is refused and left as it is.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace Tools {

class Output_File {
public:
    explicit Output_File(std::filesystem::path target);

    std::FILE* stream() const { return file_.get(); }
    const std::filesystem::path& target() const { return target_; }

    // Flushes, closes and renames; throws Tavrin::Exception when any of it fails.
    void commit();

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    struct Temporary; // its name, listed for the signal handler while it exists
    struct Remover {
        void operator()(Temporary* temporary) const;
    };

    std::filesystem::path target_;      // as the user named it
    std::filesystem::path destination_; // the file that is replaced: the target, or its link's end
    std::unique_ptr<Temporary, Remover> temporary_;
    std::unique_ptr<std::FILE, Closer> file_;
};

// A tool's output named by the user: a file, written through Output_File, or standard output,
// named "-" or /dev/stdout (also /dev/fd/1, /proc/self/fd/1), which gets the bytes as they come
// and which the caller checks at the end (standard_output_written).
class Output {
public:
    explicit Output(std::filesystem::path target);

    std::FILE* stream() const { return file_ ? file_->stream() : stdout; }
    bool is_standard_output() const { return !file_; }

    // Output_File::commit, or a flush of standard output.
    void commit();

private:
    std::optional<Output_File> file_;
};

bool names_standard_output(const std::filesystem::path& target);

// Whether two names lead to one file: for files that exist, the same device and inode (through
// links); for names not yet taken, the same name in the same folder (whatever the spelling of
// the folder: "s.png" and "./s.png").
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace Tools
