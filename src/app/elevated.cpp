#include "app/elevated.h"

#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>

#include "core/error.h"
#include "core/text.h"
#include "update/file_names.h"

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

std::string Utf8(std::int64_t number) { return std::to_string(number); }

// Tells the window every step as it is done.
class Relay final : public UpdateEvents {
public:
    explicit Relay(Channel& channel) : channel_(channel) {}
    void Did(Step step, const std::wstring& name) override {
        channel_.Send(JoinFields({"did", Utf8(static_cast<int>(step)), EncodeUtf8(name)}));
    }
    void Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) override {
        channel_.Send(JoinFields({"retry", Utf8(pauseMilliseconds), Utf8(error.Number()),
                                  EncodeUtf8(error.Description()), EncodeUtf8(path)}));
    }

private:
    Channel& channel_;
};

[[noreturn]] void Garbled() {
    throw RuntimeError(kErrInternal, L"Internal error: the updater running as administrator sent a garbled report");
}

}  // namespace

std::string EncodePlan(const ElevatedPlan& plan) {
    std::vector<std::string> fields = {"plan", EncodeUtf8(plan.updateFolder)};
    for (const std::wstring& name : plan.names) {
        fields.push_back(EncodeUtf8(name));
    }
    return JoinFields(fields);
}

std::optional<ElevatedPlan> DecodePlan(const std::string& message) {
    const std::vector<std::string> fields = Split(message);
    if (fields.size() < 2 || fields[0] != "plan") {
        return std::nullopt;
    }
    ElevatedPlan plan{DecodeUtf8(fields[1]), {}};
    if (!IsAbsolutePath(plan.updateFolder)) {
        return std::nullopt;
    }
    for (std::size_t i = 2; i < fields.size(); ++i) {
        plan.names.push_back(DecodeUtf8(fields[i]));
        if (!IsPlainRelativeName(plan.names.back())) {
            return std::nullopt;
        }
    }
    return plan;
}

std::int32_t ApplyForParent(Files& files, const std::wstring& applicationFolder, Channel& channel) {
    const std::optional<std::string> message = channel.Receive();
    const std::optional<ElevatedPlan> plan = message ? DecodePlan(*message) : std::nullopt;
    RuntimeError result(0, L"");
    if (!plan) {
        result = RuntimeError(kErrInternal, L"Internal error: no valid list of files was handed over");
    } else {
        try {
            Relay relay(channel);
            UpdateTransaction update(files, applicationFolder, plan->updateFolder, &relay);
            update.Plan(plan->names);
            for (std::size_t position = 0; position < plan->names.size(); ++position) {
                if (update.Stage(position, [] {})) {
                    channel.Send(JoinFields({"staged", Utf8(static_cast<std::int64_t>(position))}));
                }
            }
            update.Commit();
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

void ApplyElevated(Channel& channel, const ElevatedPlan& plan, UpdateEvents& events,
                   const std::function<void(std::size_t)>& staged) {
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
            const auto step = Number(fields[1], 0, static_cast<int>(UpdateEvents::Step::RollBackLeft));
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
