// The random-data file generators: chunk after chunk of the library's Blum-Blum-Shub or RSA
// generator output, written to a fresh "BBS.txt" or "RSA.txt" in the current directory.
#include "testbench.h"

#include <vorn.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
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

// Reports a file that could not be handled and closes the run's part of the log.
void log_file_error(const char *what, const char *name, const std::string &reason) {
    log_append(std::string("Cannot ") + what + " " + name + ": " + reason);
    log_append(std::string(27, '-'));
}

// Removes the file an earlier run left, so that a file on disk is always the output of the
// last run that wrote it, even when this run stops before writing. A symbolic link of that
// name is removed itself, never its target. A directory, pipe, device or socket is not ours
// to remove or write: the run stops there.
bool delete_old_file(const char *name) {
    struct stat info {};
    if (lstat(name, &info) != 0) {
        if (errno == ENOENT) return true;
        log_file_error("delete", name, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        log_file_error("write", name, "not a regular file");
        return false;
    }
    if (unlink(name) != 0 && errno != ENOENT) {
        log_file_error("delete", name, std::strerror(errno));
        return false;
    }
    return true;
}

// The output file of one run, created fresh on the first chunk and written only through
// the descriptor opened then: whatever appears under the name meanwhile (a link, another
// file) is never followed or written.
class OutputFile {
public:
    explicit OutputFile(const char *name) : name_(name) {}
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() {
        if (fd_ >= 0) close(fd_);
    }

    bool append(const std::string &chunk) {
        if (fd_ < 0) {
            fd_ = open(name_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ < 0) {
                log_file_error("create", name_, std::strerror(errno));
                return false;
            }
        }
        size_t written = 0;
        while (written < chunk.size()) {
            ssize_t n = write(fd_, chunk.data() + written, chunk.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                log_file_error("write", name_, std::strerror(n < 0 ? errno : EIO));
                return false;
            }
            written += static_cast<size_t>(n);
        }
        return true;
    }

    // Closes the file; a failure here can still mean lost data.
    bool finish() {
        if (fd_ < 0) return true;
        int result = close(fd_);
        fd_ = -1;
        if (result != 0) {
            log_file_error("write", name_, std::strerror(errno));
            return false;
        }
        return true;
    }

private:
    const char *name_;
    int fd_ = -1;
};

// A library call that fails leaves its output registers as they were: whatever they held
// would otherwise go into the file as if it were fresh generator output.
bool library_succeeded(int32_t status, const char *function) {
    if (status == VN_OK) return true;
    log_append(std::string("Error in ") + function + ": status" + dlg::number_to_text(status) +
               ", GlobalError:" + dlg::number_to_text(global_error()));
    log_append(std::string(27, '-'));
    return false;
}

struct Generator {
    const char *file_name;
    const char *function;         // its name in the log
    Reg output;                   // the register each call leaves its chunk in
    std::function<int32_t(int32_t &chunk_len)> next_chunk;
};

// The chunk loop both generators share. ChunkLen is set once and each chunk is checked
// against its current value.
void write_chunks(const Generator &generator, int32_t chunks) {
    OutputFile file(generator.file_name);
    int32_t chunk_len = kChunkLen;
    for (int32_t i = 1; i <= chunks; ++i) {
        if (!library_succeeded(generator.next_chunk(chunk_len), generator.function)) return;
        std::string h = getreg(generator.output);
        if (h.size() != static_cast<size_t>(chunk_len)) log_append("Length of h <> ChunkLen!!");
        if (!file.append(h)) return;
    }
    if (!file.finish()) return;
    log_append("Data was generated...");
    log_append(std::string(27, '-'));
}

void log_heading(const char *algorithm, const char *file_name) {
    log_append(std::string("Generating file with random data, ") + algorithm + " algorithm:");
    log_append(current_directory() + "\\" + file_name);
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
    if (!delete_old_file(bbs.file_name)) return;
    // Registers: 1 the modulus, 2 the state, 3 each chunk.
    if (!library_succeeded(init_bbs(bits, 5, 1, 2), "vn_InitBBS")) return;
    write_chunks(bbs, chunks);
}

void generate_rsa_file() {
    int32_t bits = ask_whole_number(kRsaBits);
    log_append("RSA modulus bitlenght: " + dlg::number_to_text(bits));
    int32_t chunks = ask_whole_number(kChunks);
    const Generator rsa{"RSA.txt", "vn_GenerateRSARandomBits", 5, [](int32_t &chunk_len) {
                            return rsa_bits(chunk_len, 4, 1, 3, 5, 4);
                        }};
    log_heading("RSA", rsa.file_name);
    if (!delete_old_file(rsa.file_name)) return;
    // Registers: 1 the public exponent, 2 the private one, 3 the modulus, 4 the state,
    // 5 each chunk.
    if (!library_succeeded(generate_rsa_keys(bits, 5, 1, 2, 3), "vn_GenerateRSAKeys")) return;
    // The seed must lie below the modulus. bits - 8 random bits always do with a sound
    // library; one that cannot deliver gets kMaxDraws tries and a line, not a hang.
    bool seeded = false;
    for (int attempt = 0; attempt < kMaxDraws && !seeded; ++attempt) {
        if (generate_random(bits - 8, 4) != VN_OK) break;
        seeded = is_less(4, 3) == 1;
    }
    if (!seeded) {
        log_append("Error in vn_GenerateRandom, vn_IsLess: no seed below the RSA modulus drawn");
        log_append(std::string(27, '-'));
        return;
    }
    write_chunks(rsa, chunks);
}

}  // namespace testbench
