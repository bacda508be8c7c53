#include "link/trackpower.h"

#include "link/commands.h"
#include "link/controllerline.h"

#include <memory>

namespace {

CommandBuffer statusQuery(quint8 controller)
{
    return CommandBuffer{controller, Command::QueryController, 0, Selector::Status, 0};
}

CommandBuffer switchFrame(quint8 controller, bool on)
{
    return on ? CommandBuffer{controller, Command::SetParameter, 1, Parameter::TrackOutput,
                              TrackMode::PowerOn}
              : CommandBuffer{controller, Command::SetParameter, 0, Parameter::TrackOutput,
                              TrackMode::Off};
}

// One switch in flight: each step's outcome starts the next one.
struct PowerSwitch : std::enable_shared_from_this<PowerSwitch>
{
    ControllerLine &line;
    quint8 controller;
    std::optional<bool> wanted;
    LineRequest pattern;
    std::function<void(TrackPower)> done;
    TrackPowerStep step;

    PowerSwitch(ControllerLine &l, quint8 c, std::optional<bool> w, const LineRequest &p,
                std::function<void(TrackPower)> d, TrackPowerStep s)
        : line(l), controller(c), wanted(w), pattern(p), done(std::move(d)), step(std::move(s))
    {
    }

    void send(const CommandBuffer &frame, std::function<void(const ExchangeResult &)> next)
    {
        LineRequest request = pattern;
        request.frame = frame;
        request.kind = LineKind::Exchange;
        auto self = shared_from_this();
        line.submit(request, [self, frame, next](const ExchangeResult &result) {
            if (self->step)
                self->step(frame, result);
            next(result);
        });
    }

    void start()
    {
        auto self = shared_from_this();
        send(statusQuery(controller), [self](const ExchangeResult &result) {
            const TrackPower before = trackPowerOf(result);
            if (before == TrackPower::Unknown)
                return self->done(before);
            const bool on = self->wanted.value_or(before == TrackPower::Off);
            if (on == (before == TrackPower::On))
                return self->done(before);
            self->send(switchFrame(self->controller, on), [self](const ExchangeResult &) {
                self->send(statusQuery(self->controller), [self](const ExchangeResult &after) {
                    self->done(trackPowerOf(after));
                });
            });
        });
    }
};

} // namespace

TrackPower trackPowerOf(const ExchangeResult &statusReply)
{
    if (!statusReply.reply)
        return TrackPower::Unknown;
    return StatusFlags{statusReply.reply->p1}.trackPowerOn() ? TrackPower::On : TrackPower::Off;
}

TrackPower queryTrackPower(quint8 controller, const ExchangePolicy &policy,
                           const TrackPowerStep &step)
{
    const CommandBuffer frame = statusQuery(controller);
    const ExchangeResult result = RunExchange(frame, policy);
    if (step)
        step(frame, result);
    return trackPowerOf(result);
}

void switchTrackPowerLater(ControllerLine &line, quint8 controller, std::optional<bool> wanted,
                           const LineRequest &pattern, std::function<void(TrackPower)> done,
                           TrackPowerStep step)
{
    std::make_shared<PowerSwitch>(line, controller, wanted, pattern, std::move(done),
                                  std::move(step))
        ->start();
}

TrackPower switchTrackPower(quint8 controller, std::optional<bool> wanted,
                            const ExchangePolicy &policy, const TrackPowerStep &step)
{
    auto outcome = std::make_shared<std::optional<TrackPower>>();
    LineRequest pattern;
    pattern.policy = policy;
    ControllerLine &line = controllerLine();
    switchTrackPowerLater(line, controller, wanted, pattern,
                          [outcome](TrackPower power) { *outcome = power; }, step);
    line.waitUntil([outcome] { return outcome->has_value(); });
    return outcome->value_or(TrackPower::Unknown);
}
