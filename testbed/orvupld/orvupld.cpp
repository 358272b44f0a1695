// ORVUPLD.exe stand-in: the uploader the agent starts after writing messages, for the wine tier.
//
//   "<folder>\ORVUPLD.exe" --poolpath "<pool>" --rcount 6 --rseconds 10 --messagehide
//                          --configpath "<folder>config.ini"
//
// It checks the command line and "config.ini" the way the agent's exit-code table expects,
// then sends every "RL[n].json" and "RE[n].json" of the pool, lowest number first, through the
// proxy that config.ini names, as POST http://upload.orvane.example/upload/<file name> with the
// headers X-Device-Id and X-Mac-Address (the test cloud's protocol), and deletes each file the
// cloud accepted with 200. It stops at the first file that fails, leaving the rest in the pool.
//
// For the tests:
// - every run appends its command line, exactly as received, to "ORVUPLD.log" beside the exe;
// - a file "ORVUPLD.exitcode" beside the exe holding a decimal number makes the run end with
//   that code once the command line has been checked, before config.ini is read.
// It does not retry (--rcount and --rseconds are checked, not used): a test wants a failure
// at once, not after a minute of retries. Every WinHTTP wait is bounded, because the agent
// waits for the uploader without a limit.
//
// Exit codes: 0 all sent; 16 --rcount, 17 --rseconds, 18 --type given, 19 --poolpath, 20
// --configpath missing or invalid; 32 config.ini unreadable, 33 not BOM + Base64, 34 not the
// six-member JSON object in the agent's order, 35 device_id not 32 upper-case hexadecimal
// digits, 36 mac_address empty; 64 no proxy or no connection; 99 an argument the agent never
// passes; by the cloud's answer 99 (400), 104 (401), 105 (403), 112 (404), 120 (405), 128
// (500, 503), 130 (407, 502), 161 (others); 192 a pool file unreadable, 193 not deletable.
#include "../common/standin.h"

#include <shellapi.h>
#include <winhttp.h>

#include <array>
#include <cstdint>

namespace {

using standin::ToUtf8;

enum ExitCode : int {
    kSent = 0,
    kBadRcount = 16,
    kBadRseconds = 17,
    kTypeGiven = 18,
    kBadPoolPath = 19,
    kBadConfigPath = 20,
    kConfigUnreadable = 32,
    kConfigNotBase64 = 33,
    kConfigNotJson = 34,
    kNoDeviceId = 35,
    kNoMacAddress = 36,
    kConnectFailed = 64,
    kBadParameter = 99,
    kNotRegistered = 104,
    kForbidden = 105,
    kServerNotFound = 112,
    kApiFailed = 120,
    kServerError = 128,
    kServerUnreachable = 130,
    kSendFailed = 161,
    kFileUnreadable = 192,
    kFileNotDeleted = 193,
    kUnexpected = 255,
};

constexpr wchar_t kUploadHost[] = L"upload.orvane.example";
constexpr size_t kMaxConfigBytes = 64 * 1024;
constexpr size_t kMaxPoolFileBytes = 64 * 1024 * 1024;

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET h) : handle_(h) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() {
        if (handle_ != nullptr) ::WinHttpCloseHandle(handle_);
    }
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

// ---- command line ---------------------------------------------------------

struct Option {
    bool given = false;
    bool valid = true;  // false when given twice or without a value
    std::wstring value;
};

struct CommandLine {
    Option pool, rcount, rseconds, config, type;
    bool unknown = false;
};

CommandLine ParseCommandLine() {
    CommandLine parsed;
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) {
        parsed.unknown = true;
        return parsed;
    }
    struct Named {
        const wchar_t* name;
        Option* option;
    };
    const std::array<Named, 5> named{{{L"--poolpath", &parsed.pool},
                                      {L"--rcount", &parsed.rcount},
                                      {L"--rseconds", &parsed.rseconds},
                                      {L"--configpath", &parsed.config},
                                      {L"--type", &parsed.type}}};
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view arg = argv[i];
        if (arg == L"--messagehide") continue;
        Option* option = nullptr;
        for (const Named& n : named) {
            if (arg == n.name) option = n.option;
        }
        if (option == nullptr) {
            parsed.unknown = true;
            continue;
        }
        if (option->given || i + 1 >= argc) option->valid = false;
        option->given = true;
        if (i + 1 < argc) option->value = argv[++i];
    }
    ::LocalFree(argv);
    return parsed;
}

bool IsCount(const Option& option) {
    return option.given && option.valid && standin::ParseDecimal(option.value, 3600).has_value();
}

int CheckCommandLine(const CommandLine& line) {
    if (!IsCount(line.rcount)) return kBadRcount;
    if (!IsCount(line.rseconds)) return kBadRseconds;
    if (line.type.given) return kTypeGiven;
    if (!line.pool.given || !line.pool.valid || !standin::IsFolder(line.pool.value)) return kBadPoolPath;
    if (!line.config.given || !line.config.valid || line.config.value.empty()) return kBadConfigPath;
    if (line.unknown) return kBadParameter;
    return kSent;
}

// ---- config.ini -------------------------------------------------------------

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Standard alphabet, padded, nothing else: no line breaks, no white space, no stray '='.
std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
        std::uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            int v = 0;
            if (k >= 4 - static_cast<size_t>(pad)) {
                if (text[i + k] != '=') return std::nullopt;
            } else {
                v = Base64Value(text[i + k]);
                if (v < 0) return std::nullopt;
            }
            group = (group << 6) | static_cast<std::uint32_t>(v);
        }
        out.push_back(static_cast<char>((group >> 16) & 0xFF));
        if (pad < 2) out.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (pad < 1) out.push_back(static_cast<char>(group & 0xFF));
    }
    return out;
}

// A JSON object whose members are all strings, in order. Strict: anything else is refused.
class FlatJson {
public:
    explicit FlatJson(std::wstring_view text) : text_(text) {}

    std::optional<std::vector<std::pair<std::wstring, std::wstring>>> Parse() {
        std::vector<std::pair<std::wstring, std::wstring>> members;
        SkipSpace();
        if (!Take(L'{')) return std::nullopt;
        SkipSpace();
        if (!Take(L'}')) {
            for (;;) {
                std::wstring key, value;
                SkipSpace();
                if (!String(key)) return std::nullopt;
                SkipSpace();
                if (!Take(L':')) return std::nullopt;
                SkipSpace();
                if (!String(value)) return std::nullopt;
                members.emplace_back(std::move(key), std::move(value));
                SkipSpace();
                if (Take(L'}')) break;
                if (!Take(L',')) return std::nullopt;
            }
        }
        SkipSpace();
        if (pos_ != text_.size()) return std::nullopt;
        return members;
    }

private:
    void SkipSpace() {
        while (pos_ < text_.size() &&
               (text_[pos_] == L' ' || text_[pos_] == L'\t' || text_[pos_] == L'\r' || text_[pos_] == L'\n')) {
            ++pos_;
        }
    }
    bool Take(wchar_t c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool String(std::wstring& out) {
        if (!Take(L'"')) return false;
        while (pos_ < text_.size()) {
            const wchar_t c = text_[pos_++];
            if (c == L'"') return true;
            if (c < 0x20) return false;
            if (c != L'\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= text_.size()) return false;
            const wchar_t e = text_[pos_++];
            switch (e) {
                case L'"': out.push_back(L'"'); break;
                case L'\\': out.push_back(L'\\'); break;
                case L'/': out.push_back(L'/'); break;
                case L'b': out.push_back(L'\b'); break;
                case L'f': out.push_back(L'\f'); break;
                case L'n': out.push_back(L'\n'); break;
                case L'r': out.push_back(L'\r'); break;
                case L't': out.push_back(L'\t'); break;
                case L'u': {
                    if (pos_ + 4 > text_.size()) return false;
                    unsigned value = 0;
                    for (int k = 0; k < 4; ++k) {
                        const wchar_t h = text_[pos_++];
                        value <<= 4;
                        if (h >= L'0' && h <= L'9') value |= static_cast<unsigned>(h - L'0');
                        else if (h >= L'a' && h <= L'f') value |= static_cast<unsigned>(h - L'a' + 10);
                        else if (h >= L'A' && h <= L'F') value |= static_cast<unsigned>(h - L'A' + 10);
                        else return false;
                    }
                    out.push_back(static_cast<wchar_t>(value));
                    break;
                }
                default: return false;
            }
        }
        return false;
    }

    std::wstring_view text_;
    size_t pos_ = 0;
};

struct Config {
    std::wstring deviceId, macAddress, proxyHost, proxyPort, proxyUser, proxyPassword;
};

int ReadConfig(const std::wstring& path, Config& config) {
    const std::optional<std::string> bytes = standin::ReadWholeFile(path, kMaxConfigBytes);
    if (!bytes) return kConfigUnreadable;
    if (bytes->size() < 3 || bytes->compare(0, 3, "\xEF\xBB\xBF") != 0) return kConfigNotBase64;
    const std::optional<std::string> decoded = DecodeBase64(std::string_view(*bytes).substr(3));
    if (!decoded) return kConfigNotBase64;
    // The agent writes the JSON text in the system's ANSI code page.
    const std::optional<std::wstring> text = standin::FromCodePage(CP_ACP, *decoded);
    if (!text) return kConfigNotJson;
    const auto members = FlatJson(*text).Parse();
    // The agent writes exactly these six members in this order; anything else is its fault.
    static constexpr std::array<const wchar_t*, 6> kNames{
        L"device_id", L"mac_address", L"proxy_host", L"proxy_port", L"proxy_user", L"proxy_password"};
    if (!members || members->size() != kNames.size()) return kConfigNotJson;
    std::array<std::wstring*, 6> fields{&config.deviceId,  &config.macAddress, &config.proxyHost,
                                        &config.proxyPort, &config.proxyUser,  &config.proxyPassword};
    for (size_t i = 0; i < kNames.size(); ++i) {
        if ((*members)[i].first != kNames[i]) return kConfigNotJson;
        *fields[i] = (*members)[i].second;
    }
    if (config.deviceId.size() != 32) return kNoDeviceId;
    for (wchar_t c : config.deviceId) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return kNoDeviceId;
    }
    if (config.macAddress.empty()) return kNoMacAddress;
    return kSent;
}

// ---- the pool -----------------------------------------------------------------

struct PoolFile {
    unsigned long long number;  // the hexadecimal number in "RL[n].json"; unnamed ones go last
    std::wstring name;
};

unsigned long long FileNumber(const std::wstring& name) {
    constexpr unsigned long long kNone = ~0ull;
    const std::wstring_view view = name;
    if (view.size() < 9 || view[2] != L'[' || view.substr(view.size() - 6) != L"].json") return kNone;
    const std::wstring_view digits = view.substr(3, view.size() - 9);
    if (digits.empty() || digits.size() > 16) return kNone;
    unsigned long long value = 0;
    for (wchar_t c : digits) {
        value <<= 4;
        if (c >= L'0' && c <= L'9') value |= static_cast<unsigned long long>(c - L'0');
        else if (c >= L'A' && c <= L'F') value |= static_cast<unsigned long long>(c - L'A' + 10);
        else if (c >= L'a' && c <= L'f') value |= static_cast<unsigned long long>(c - L'a' + 10);
        else return kNone;
    }
    return value;
}

std::vector<PoolFile> ListPool(const std::wstring& pool) {
    std::vector<PoolFile> files;
    for (const wchar_t* pattern : {L"RL*.json", L"RE*.json"}) {
        WIN32_FIND_DATAW found{};
        const HANDLE find = ::FindFirstFileW((pool + pattern).c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                files.push_back({FileNumber(found.cFileName), found.cFileName});
            }
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    std::sort(files.begin(), files.end(), [](const PoolFile& a, const PoolFile& b) {
        return a.number != b.number ? a.number < b.number : a.name < b.name;
    });
    return files;
}

int ExitCodeForStatus(DWORD status) {
    switch (status) {
        case 400: return kBadParameter;
        case 401: return kNotRegistered;
        case 403: return kForbidden;
        case 404: return kServerNotFound;
        case 405: return kApiFailed;
        case 407:
        case 502: return kServerUnreachable;
        case 500:
        case 503: return kServerError;
        default: return kSendFailed;
    }
}

int SendFile(HINTERNET connection, const Config& config, const std::wstring& name,
             const std::string& data, DWORD& status) {
    const std::wstring path = L"/upload/" + name;
    InternetHandle request(::WinHttpOpenRequest(connection, L"POST", path.c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request) return kConnectFailed;
    if (!config.proxyUser.empty()) {
        ::WinHttpSetOption(request.get(), WINHTTP_OPTION_PROXY_USERNAME,
                           const_cast<wchar_t*>(config.proxyUser.c_str()),
                           static_cast<DWORD>(config.proxyUser.size()));
    }
    if (!config.proxyPassword.empty()) {
        ::WinHttpSetOption(request.get(), WINHTTP_OPTION_PROXY_PASSWORD,
                           const_cast<wchar_t*>(config.proxyPassword.c_str()),
                           static_cast<DWORD>(config.proxyPassword.size()));
    }
    const std::wstring headers = L"Content-Type: application/json\r\nX-Device-Id: " + config.deviceId +
                                 L"\r\nX-Mac-Address: " + config.macAddress;
    const DWORD size = static_cast<DWORD>(data.size());
    if (!::WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                              const_cast<char*>(data.data()), size, size, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return kConnectFailed;
    }
    DWORD statusSize = sizeof(status);
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
        return kSendFailed;
    }
    // Read the answer to its end, so the connection can serve the next file.
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.get(), &available) || available == 0) break;
        std::string discard(available, '\0');
        DWORD read = 0;
        if (!::WinHttpReadData(request.get(), discard.data(), available, &read) || read == 0) break;
    }
    return status == 200 ? kSent : ExitCodeForStatus(status);
}

int SendPool(const std::wstring& poolPath, const Config& config) {
    if (config.proxyHost.empty()) return kConnectFailed;
    const std::optional<unsigned long> port = standin::ParseDecimal(config.proxyPort, 65535);
    if (!port || *port == 0) return kConnectFailed;
    std::wstring pool = poolPath;
    if (pool.back() != L'\\' && pool.back() != L'/') pool += L'\\';

    const std::wstring proxy = config.proxyHost + L":" + std::to_wstring(*port);
    InternetHandle session(::WinHttpOpen(L"ORVUPLD", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return kConnectFailed;
    ::WinHttpSetTimeouts(session.get(), 10000, 10000, 30000, 30000);
    InternetHandle connection(::WinHttpConnect(session.get(), kUploadHost, INTERNET_DEFAULT_HTTP_PORT, 0));
    if (!connection) return kConnectFailed;

    for (const PoolFile& file : ListPool(pool)) {
        const std::wstring path = pool + file.name;
        const std::optional<std::string> data = standin::ReadWholeFile(path, kMaxPoolFileBytes);
        if (!data) return kFileUnreadable;
        DWORD status = 0;
        const int result = SendFile(connection.get(), config, file.name, *data, status);
        if (result != kSent) return result;
        if (!::DeleteFileW(path.c_str())) return kFileNotDeleted;
    }
    return kSent;
}

int Run() {
    const std::wstring folder = standin::ModuleFolder();
    (void)standin::AppendLine(folder + L"ORVUPLD.log", ToUtf8(::GetCommandLineW()));

    const CommandLine line = ParseCommandLine();
    const int lineResult = CheckCommandLine(line);
    if (lineResult != kSent) return lineResult;

    const std::wstring forcedPath = folder + L"ORVUPLD.exitcode";
    if (standin::IsFile(forcedPath)) {
        const std::optional<std::string> text = standin::ReadWholeFile(forcedPath, 64);
        if (!text) return kUnexpected;
        std::wstring digits;
        for (char c : *text) {
            if (c != ' ' && c != '\r' && c != '\n' && c != '\t') digits.push_back(static_cast<wchar_t>(c));
        }
        const std::optional<unsigned long> forced = standin::ParseDecimal(digits, 0xFFFFFFFFul);
        return forced ? static_cast<int>(*forced) : kUnexpected;
    }

    Config config;
    const int configResult = ReadConfig(line.config.value, config);
    if (configResult != kSent) return configResult;
    return SendPool(line.pool.value, config);
}

}  // namespace

int wmain() { return Run(); }
