#include "support/test_support.h"

#include "bytes.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velmora::test {

std::filesystem::path NativePath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            base / ("velmora-test-" + std::to_string(random() % 1000000000));
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) {
            m_path = Utf8(path);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(NativePath(m_path), ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(m_path))) {
        names.push_back(Utf8(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#ifdef _WIN32
namespace {

std::wstring Wide(const std::string& text) {
    return NativePath(text).wstring();
}

// One argument as the C run-time's command-line parser will give it back.
void AppendQuoted(std::wstring& line, const std::wstring& word) {
    line += line.empty() ? L"\"" : L" \"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            // Backslashes are literal unless a quote follows: then they are doubled.
            line.append(c == L'"' ? backslashes + 1 : 0, L'\\');
            backslashes = 0;
        }
        line += c;
    }
    line.append(backslashes, L'\\');
    line += L'"';
}

} // namespace

int Launch(const std::vector<std::string>& words, const std::string& folder, const Streams& io,
           const std::vector<std::string>& environment, bool typed) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto open = [&](const std::string& path, bool write) {
        return CreateFileW(path.empty() ? L"NUL" : Wide(path).c_str(),
                           write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherited, write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(io.in, false);
    startup.hStdOutput = open(io.out, true);
    const HANDLE err = open(io.err, true);
    startup.hStdError = io.closeErr ? nullptr : err;
    std::wstring line;
    for (const std::string& word : words) {
        if (typed && !line.empty()) {
            line += L" " + Wide(word);
        } else {
            AppendQuoted(line, Wide(word));
        }
    }
    std::vector<std::wstring> names;
    for (const std::string& variable : environment) {
        const std::size_t equals = variable.find('=');
        names.push_back(Wide(variable.substr(0, equals)));
        SetEnvironmentVariableW(names.back().c_str(), Wide(variable.substr(equals + 1)).c_str());
    }
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(Wide(words[0]).c_str(), line.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, Wide(folder).c_str(), &startup, &process);
    for (const std::wstring& name : names) {
        SetEnvironmentVariableW(name.c_str(), nullptr);
    }
    DWORD status = static_cast<DWORD>(-1);
    if (started) {
        // A run that hangs is ended, and shows as one that did not exit by itself.
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, static_cast<UINT>(-1));
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, err}) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    return started ? static_cast<int>(status) : -1;
}
#else
int Launch(const std::vector<std::string>& words, const std::string& folder, const Streams& io,
           const std::vector<std::string>& environment, bool) {
    std::vector<char*> argv;
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(io.in.empty() ? "/dev/null" : io.in.c_str(), O_RDONLY);
        const int out =
            open(io.out.empty() ? "/dev/null" : io.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err =
            open(io.err.empty() ? "/dev/null" : io.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(folder.c_str()) != 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(127);
        }
        const bool closed[] = {io.closeIn, io.closeOut, io.closeErr};
        for (int fd = 0; fd < 3; ++fd) {
            if (closed[fd]) {
                close(fd);
            }
        }
        for (const std::string& variable : environment) {
            putenv(const_cast<char*>(variable.c_str()));
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

void ForEachKernelTable(const std::function<void(const char* name)>& check) {
    const detail::Kernels& usual = detail::ChosenKernels();
    for (const char* name : detail::kKernelNames) {
        if (const detail::Kernels* kernels = detail::KernelsNamed(name)) {
            detail::UseKernels(*kernels);
            check(name);
        }
    }
    detail::UseKernels(usual);
}

std::string Repeat(std::string_view piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

bool UnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

std::string InFiller(std::string_view text, std::size_t shift, char filler) {
    if (shift == 0) {
        return std::string(text);
    }
    return std::string(shift, filler).append(text).append(kMaxShift, filler);
}

} // namespace velmora::test
