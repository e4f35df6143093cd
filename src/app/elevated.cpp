#include "app/elevated.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>

#include "core/error.h"
#include "core/text.h"
#include "update/file_names.h"
#include "update/folder_trust.h"

namespace tessaloom {
namespace {

std::string JoinFields(const std::vector<std::string>& fields) {
    std::string message;
    for (const std::string& field : fields) {
        if (!message.empty()) {
            message += '\0';
        }
        message += field;
    }
    return message;
}

std::vector<std::string> Split(const std::string& message) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = message.find('\0', start);
        fields.push_back(message.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return fields;
        }
        start = end + 1;
    }
}

// A decimal number from `least` to `most`; nothing for any other text.
std::optional<std::int64_t> Number(const std::string& text, std::int64_t least, std::int64_t most) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < least || value > most) {
        return std::nullopt;
    }
    return value;
}

std::string Utf8(std::int64_t number) {
    char digits[20];
    return {digits, std::to_chars(digits, digits + sizeof digits, number).ptr};
}

// A folder the user could have as Documents: a path from the root of a
// drive letter ("X:\...") or of a network share ("\\server\share\...", as
// folder redirection puts Documents), and nothing that names a device, a
// pipe, a stream or a pattern ("\\.\pipe", "\\?\C:", "C:\a:b", "C:\*").
// The elevated instance never opens it: the window hands over what it opened.
bool IsDocumentsFolder(std::wstring_view folder) {
    std::wstring_view rest;
    if (folder.size() >= 3 && folder[1] == L':' && IsSeparator(folder[2])) {
        const wchar_t drive = folder[0];
        if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z'))) {
            return false;
        }
        rest = folder.substr(2);
    } else if (folder.size() >= 5 && IsSeparator(folder[0]) && IsSeparator(folder[1]) && folder[2] != L'.' &&
               folder[2] != L'?' && !IsSeparator(folder[2])) {
        // A server, then a share: two names, neither empty.
        const std::size_t server = folder.find_first_of(L"\\/", 2);
        if (server == std::wstring_view::npos || server + 1 >= folder.size() || IsSeparator(folder[server + 1])) {
            return false;
        }
        rest = folder.substr(2);
    } else {
        return false;
    }
    return rest.find_first_of(L"*?:\"<>|") == std::wstring_view::npos &&
           std::none_of(rest.begin(), rest.end(), [](wchar_t c) { return c < 0x20; });
}

// Tells the window every step as it is done.
class Relay final : public UpdateEvents {
public:
    explicit Relay(Channel& channel) : channel_(channel) {}
    void Did(Step step, const std::wstring& name) override {
        if (step > kLastStep) {
            throw RuntimeError(kErrInternal, L"Internal error: a step beyond the last was to be reported");
        }
        channel_.Send(JoinFields({"did", Utf8(static_cast<int>(step)), EncodeUtf8(name)}));
    }
    void Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) override {
        channel_.Send(JoinFields({"retry", Utf8(pauseMilliseconds), Utf8(error.Number()),
                                  EncodeUtf8(error.Description()), EncodeUtf8(path)}));
    }

private:
    Channel& channel_;
};

// Why nothing may be done with administrator rights: the application folder
// itself is looked at first, then, once it is known that only administrators
// could have written its journal, every path of the plan and of the journal.
std::optional<std::wstring> ElevationRefusal(Files& files, Guards& guards, const std::wstring& app,
                                             std::vector<std::wstring> names) {
    if (auto why = ApplicationFolderRefusal(guards, app, {})) {
        return why;
    }
    const std::vector<std::wstring> interrupted = InterruptedUpdateNames(files, app);
    names.insert(names.end(), interrupted.begin(), interrupted.end());
    return ApplicationFolderRefusal(guards, app, names);
}

[[noreturn]] void Garbled() {
    throw RuntimeError(kErrInternal, L"Internal error: the updater running as administrator sent a garbled report");
}

}  // namespace

std::string EncodePlan(const ElevatedPlan& plan) {
    std::vector<std::string> fields = {"plan", EncodeUtf8(plan.updateFolder)};
    for (std::size_t i = 0; i < plan.names.size(); ++i) {
        fields.push_back(EncodeUtf8(plan.names[i]));
        fields.push_back(Utf8(static_cast<std::int64_t>(i < plan.files.size() ? plan.files[i] : 0)));
    }
    return JoinFields(fields);
}

std::optional<ElevatedPlan> DecodePlan(const std::string& message) {
    const std::vector<std::string> fields = Split(message);
    if (fields.size() < 2 || fields.size() % 2 != 0 || fields[0] != "plan") {
        return std::nullopt;
    }
    ElevatedPlan plan{DecodeUtf8(fields[1]), {}, {}};
    if (!IsDocumentsFolder(plan.updateFolder)) {
        return std::nullopt;
    }
    for (std::size_t i = 2; i < fields.size(); i += 2) {
        plan.names.push_back(DecodeUtf8(fields[i]));
        // A handle's value: 32 bits wide, in 32- and 64-bit processes alike.
        const std::optional<std::int64_t> file = Number(fields[i + 1], 0, 0xFFFFFFFFLL);
        if (!IsPlainRelativeName(plan.names.back()) || !file) {
            return std::nullopt;
        }
        plan.files.push_back(static_cast<std::uint64_t>(*file));
    }
    return plan;
}

std::wstring NotElevatingThere(const std::wstring& why) {
    return L"administrator rights are used only in a folder that only administrators can change, and " + why;
}

std::int32_t ApplyForParent(Files& files, Guards& guards, const std::wstring& applicationFolder, Channel& channel,
                            const StagedCheck& check) {
    const std::optional<std::string> message = channel.Receive();
    const std::optional<ElevatedPlan> plan = message ? DecodePlan(*message) : std::nullopt;
    RuntimeError result(0, L"");
    if (!plan) {
        result = RuntimeError(kErrInternal, L"Internal error: no valid list of files was handed over");
    } else if (const auto why = ElevationRefusal(files, guards, applicationFolder, plan->names)) {
        result = RuntimeError(kErrAccessDenied, L"Access is denied: " + NotElevatingThere(*why));
    } else {
        try {
            Relay relay(channel);
            // The new files come only from what the window opened: a name is
            // never looked up in the user's folder with administrator rights.
            const auto open = [&](const std::wstring& name) -> std::unique_ptr<SourceFile> {
                const auto at = std::find(plan->names.begin(), plan->names.end(), name);
                const std::uint64_t file = plan->files.at(static_cast<std::size_t>(at - plan->names.begin()));
                return file == 0 ? nullptr : channel.TakeOver(file);
            };
            UpdateTransaction update(files, applicationFolder, plan->updateFolder, &relay, open);
            if (check) {
                update.CheckStagedWith(check);
            }
            ApplyUpdate(
                update, plan->names,
                [&](std::size_t position) {
                    channel.Send(JoinFields({"staged", Utf8(static_cast<std::int64_t>(position))}));
                },
                [] {});
        } catch (...) {
            result = CurrentError();  // the transaction has undone everything by now
        }
    }
    try {
        channel.Send(JoinFields({"result", Utf8(result.Number()), EncodeUtf8(result.Description())}));
    } catch (const RuntimeError&) {
        // The window has gone; the exit code still tells.
    }
    return result.Number();
}

void ApplyElevated(Channel& channel, Files& files, ElevatedPlan plan, UpdateEvents& events,
                   const std::function<void(std::size_t)>& staged) {
    plan.files.clear();
    for (const std::wstring& name : plan.names) {
        const std::wstring path = Join(plan.updateFolder, name);
        std::unique_ptr<SourceFile> source = Retrying(
            files, &events, path, [&] { return files.OpenSource(path); }, Side::kNew);
        plan.files.push_back(source ? channel.HandOver(std::move(source)) : 0);
    }
    channel.Send(EncodePlan(plan));
    for (;;) {
        const std::optional<std::string> message = channel.Receive();
        if (!message) {
            throw RuntimeError(kErrInternal,
                               L"Internal error: the updater running as administrator ended without a report");
        }
        const std::vector<std::string> fields = Split(*message);
        const std::string& kind = fields[0];
        constexpr std::int64_t kInt32Least = std::numeric_limits<std::int32_t>::min();
        constexpr std::int64_t kInt32Most = std::numeric_limits<std::int32_t>::max();
        if (kind == "staged" && fields.size() == 2) {
            const auto position = Number(fields[1], 0, std::ssize(plan.names) - 1);
            if (!position) {
                Garbled();
            }
            staged(static_cast<std::size_t>(*position));
        } else if (kind == "did" && fields.size() == 3) {
            const auto step = Number(fields[1], 0, static_cast<int>(UpdateEvents::kLastStep));
            if (!step) {
                Garbled();
            }
            events.Did(static_cast<UpdateEvents::Step>(*step), DecodeUtf8(fields[2]));
        } else if (kind == "retry" && fields.size() == 5) {
            const auto pause = Number(fields[1], 0, kInt32Most);
            const auto number = Number(fields[2], kInt32Least, kInt32Most);
            if (!pause || !number) {
                Garbled();
            }
            events.Retrying(DecodeUtf8(fields[4]),
                            RuntimeError(static_cast<std::int32_t>(*number), DecodeUtf8(fields[3])),
                            static_cast<int>(*pause));
        } else if (kind == "result" && fields.size() == 3) {
            const auto number = Number(fields[1], kInt32Least, kInt32Most);
            if (!number) {
                Garbled();
            }
            if (*number != 0) {
                throw RuntimeError(static_cast<std::int32_t>(*number), DecodeUtf8(fields[2]));
            }
            return;
        } else {
            Garbled();
        }
    }
}

}  // namespace tessaloom
