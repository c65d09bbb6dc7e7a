// The random-data file generators: chunk after chunk of the library's Blum-Blum-Shub or RSA
// generator output, written to a new "BBS.txt" or "RSA.txt" in the current directory that
// replaces the earlier one only when it is complete.
#include "testbench.h"

#include <vorn.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

namespace testbench {

namespace {

using namespace vorn;

struct Prompt {
    const char *text;
    const char *default_text;
};

constexpr Prompt kBbsBits{"Enter bitlength of BBS modulus:", "128"};
constexpr Prompt kMultiBits{"Multiple bits per calculation? (y/n):", "y"};
constexpr Prompt kRsaBits{"Enter bitlength of RSA modulus:", "128"};
constexpr Prompt kChunks{"How many kbytes to generate:", "10000"};

constexpr int32_t kChunkLen = 1000;

std::string ask(const Prompt &prompt) {
    return dlg::input_box(prompt.text, "VORN", prompt.default_text);
}

int32_t ask_whole_number(const Prompt &prompt) {
    return dlg::round_to_int32(dlg::number_from_text(ask(prompt)));
}

std::string current_directory() {
    std::string path(4096, '\0');
    while (getcwd(path.data(), path.size()) == nullptr) {
        if (errno != ERANGE) return "";
        path.resize(path.size() * 2);
    }
    path.resize(std::strlen(path.c_str()));
    return path;
}

// The closing lines of a run that did not replace the file: why, then that the earlier file
// (if any) is untouched.
void log_left_as_it_was(const std::string &reason, const char *name) {
    if (!reason.empty()) log_append(reason);
    log_append(std::string(name) + " was left as it was");
    log_append(std::string(27, '-'));
}

std::string cannot(const char *what, const char *name, int error) {
    return std::string("Cannot ") + what + " " + name + ": " + std::strerror(error);
}

// The earlier file may be replaced when it is missing, a regular file or a symbolic link
// (the link itself is replaced, never its target). A directory, pipe, device or socket is
// not ours: it is left alone. mode: the earlier file's permissions, for the new one, or 0
// when there is no earlier regular file (the new one then gets 0666 less the umask).
bool replaceable(const char *name, std::string &reason, mode_t &mode) {
    mode = 0;
    struct stat info {};
    if (lstat(name, &info) != 0) {
        if (errno == ENOENT) return true;
        reason = cannot("write", name, errno);
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        mode = info.st_mode & 07777;
        return true;
    }
    if (S_ISLNK(info.st_mode)) return true;
    reason = std::string("Cannot write ") + name + ": not a regular file";
    return false;
}

// The temporary file of the run in progress, removed should the program end at once (the
// close box during a run): no half-written file stays behind.
char temp_in_use[4096] = "";

void remove_temp_in_use() {
    if (temp_in_use[0] != '\0') unlink(temp_in_use);
}

// The new file is written under a temporary name in the same folder, created exclusively
// and never through a link, and renamed over the earlier file only once it is complete:
// a run that stops or fails leaves the earlier file as it was.
struct NewFile {
    const char *name;
    std::string temp_name;
    int fd = -1;
};

bool create_temp(NewFile &file, mode_t mode, std::string &reason) {
    static bool cleanup_registered = (std::at_quick_exit(remove_temp_in_use), true);
    (void)cleanup_registered;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
        file.temp_name = std::string(".") + file.name + suffix;
        if (file.temp_name.size() >= sizeof temp_in_use) break;
        std::memcpy(temp_in_use, file.temp_name.c_str(), file.temp_name.size() + 1);
        file.fd = open(file.temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file.fd >= 0) {
            // open() applies the umask; an earlier file's own permissions are kept exactly.
            if (mode != 0) fchmod(file.fd, mode);
            return true;
        }
        temp_in_use[0] = '\0';
        if (errno != EEXIST) break;
    }
    reason = cannot("create a new", file.name, errno);
    return false;
}

bool write_all(NewFile &file, const std::string &chunk, std::string &reason) {
    size_t written = 0;
    while (written < chunk.size()) {
        ssize_t n = write(file.fd, chunk.data() + written, chunk.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = cannot("write", file.name, n < 0 ? errno : EIO);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// Removes the unfinished temporary file.
void discard(NewFile &file) {
    if (file.fd >= 0) close(file.fd);
    file.fd = -1;
    if (!file.temp_name.empty()) unlink(file.temp_name.c_str());
    temp_in_use[0] = '\0';
}

// Puts the complete file in place of the earlier one. The data reaches the disk first, so
// that a crash cannot leave a renamed but empty file.
bool put_in_place(NewFile &file, std::string &reason) {
    int fd = file.fd;
    file.fd = -1;
    bool synced = fsync(fd) == 0;
    int sync_error = errno;
    bool closed = close(fd) == 0;
    if (!synced || !closed) {
        reason = cannot("write", file.name, !synced ? sync_error : errno);
        return false;
    }
    if (rename(file.temp_name.c_str(), file.name) != 0) {
        reason = cannot("replace", file.name, errno);
        return false;
    }
    temp_in_use[0] = '\0';
    return true;
}

// A library call that fails leaves its output registers as they were: whatever they held
// would otherwise go into the file as if it were fresh generator output. A call stopped by
// the user is no failure of the library.
bool library_succeeded(int32_t status, const char *function, std::string &reason) {
    if (status == VN_OK) return true;
    if (dlg::stop_requested()) return false;
    reason = std::string("Error in ") + function + ": status" + dlg::number_to_text(status) +
             ", GlobalError:" + dlg::number_to_text(global_error());
    return false;
}

const char *const kStoppedLine = "Stopped by the user";

// What the progress display shows (read from another thread).
struct FileProgress {
    std::atomic<const char *> name = "";
    std::atomic<int32_t> written = 0;   // chunks
    std::atomic<int32_t> total = 0;
    std::atomic<bool> setting_up = false;
};
FileProgress progress;

std::string progress_text() {
    std::string name = progress.name.load();
    if (progress.setting_up) return name + ": setting up the generator";
    return name + ": " + std::to_string(progress.written.load()) + " of " +
           std::to_string(progress.total.load()) + " kbytes written";
}

struct Generator {
    const char *file_name;
    const char *function;         // its name in the log
    Reg output;                   // the register each call leaves its chunk in
    std::function<int32_t(int32_t &chunk_len)> next_chunk;
};

// The chunk loop both generators share. ChunkLen is set once and each chunk is checked
// against its current value. Returns "" when the file is in place, else why it is not.
std::string write_chunks(const Generator &generator, int32_t chunks, mode_t mode) {
    NewFile file{generator.file_name, {}, -1};
    std::string reason;
    if (!create_temp(file, mode, reason)) return reason;
    int32_t chunk_len = kChunkLen;
    for (int32_t i = 1; i <= chunks; ++i) {
        if (dlg::stop_requested() ||
            !library_succeeded(generator.next_chunk(chunk_len), generator.function, reason)) {
            discard(file);
            return dlg::stop_requested() ? kStoppedLine : reason;
        }
        std::string h = getreg(generator.output);
        if (h.size() != static_cast<size_t>(chunk_len)) log_append("Length of h <> ChunkLen!!");
        if (!write_all(file, h, reason)) {
            discard(file);
            return reason;
        }
        progress.written = i;
    }
    if (!put_in_place(file, reason)) {
        discard(file);
        return reason;
    }
    return "";
}

void log_heading(const char *algorithm, const char *file_name) {
    log_append(std::string("Generating file with random data, ") + algorithm + " algorithm:");
    log_append(current_directory() + "\\" + file_name);
}

// The frame of a run after its prompts: checks, set-up, chunks, and the closing lines.
// set_up returns "" or why the generator could not be set up.
void run_generator(int button, const Generator &generator, int32_t chunks,
                   const std::function<std::string()> &set_up) {
    const char *name = generator.file_name;
    std::string reason;
    mode_t mode = 0;
    if (!replaceable(name, reason, mode)) return log_left_as_it_was(reason, name);
    if (dlg::stop_requested()) return log_left_as_it_was(kStoppedLine, name);   // at a prompt
    if (chunks <= 0)
        return log_left_as_it_was("No data to generate (" + std::to_string(chunks) + " kbytes)", name);

    progress.name = name;
    progress.written = 0;
    progress.total = chunks;
    progress.setting_up = true;
    dlg::begin_work(button, std::string("Stop writing ") + name, 0, progress_text);
    stop_library_calls(true);
    reason = set_up();
    progress.setting_up = false;
    if (dlg::stop_requested()) reason = kStoppedLine;
    if (reason.empty()) reason = write_chunks(generator, chunks, mode);
    dlg::end_work();
    if (!reason.empty()) return log_left_as_it_was(reason, name);
    log_append("Data was generated...");
    log_append(std::string(27, '-'));
}

}  // namespace

void generate_bbs_file() {
    int32_t bits = ask_whole_number(kBbsBits);
    int32_t multi_bit_flag = ask(kMultiBits) == "y" ? 1 : 0;
    log_append("BBS modulus bitlenght: " + dlg::number_to_text(bits));
    int32_t chunks = ask_whole_number(kChunks);
    const Generator bbs{"BBS.txt", "vn_GenerateBBSRandomBits", 3, [&](int32_t &chunk_len) {
                            return bbs_bits(chunk_len, multi_bit_flag, 2, 1, 3, 2);
                        }};
    log_heading("BBS", bbs.file_name);
    // Registers: 1 the modulus, 2 the state, 3 each chunk.
    run_generator(kBbsButton, bbs, chunks, [&] {
        std::string reason;
        library_succeeded(init_bbs(bits, 5, 1, 2), "vn_InitBBS", reason);
        return reason;
    });
}

void generate_rsa_file() {
    int32_t bits = ask_whole_number(kRsaBits);
    log_append("RSA modulus bitlenght: " + dlg::number_to_text(bits));
    int32_t chunks = ask_whole_number(kChunks);
    const Generator rsa{"RSA.txt", "vn_GenerateRSARandomBits", 5, [](int32_t &chunk_len) {
                            return rsa_bits(chunk_len, 4, 1, 3, 5, 4);
                        }};
    log_heading("RSA", rsa.file_name);
    // Registers: 1 the public exponent, 2 the private one, 3 the modulus, 4 the state,
    // 5 each chunk.
    run_generator(kRsaButton, rsa, chunks, [&] {
        std::string reason;
        if (!library_succeeded(generate_rsa_keys(bits, 5, 1, 2, 3), "vn_GenerateRSAKeys", reason))
            return reason;
        // The seed must lie below the modulus. bits - 8 random bits always do with a sound
        // library; one that cannot deliver gets kMaxDraws tries and a line, not a hang.
        for (int attempt = 0; attempt < kMaxDraws && !dlg::stop_requested(); ++attempt) {
            if (generate_random(bits - 8, 4) != VN_OK) break;
            if (is_less(4, 3) == 1) return std::string();
        }
        return std::string("Error in vn_GenerateRandom, vn_IsLess: no seed below the RSA modulus drawn");
    });
}

}  // namespace testbench
