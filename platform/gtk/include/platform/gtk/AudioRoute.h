#pragma once
// The audio route as the sound server (PulseAudio or PipeWire's Pulse
// server) reports it, asked through its command-line client.

#include <optional>
#include <string>
#include <string_view>

namespace platform::gtk {

// A route name ("Headphone", "Headset", "HeadsetBT", "Speaker", "LineOut",
// "HDMI") for a sink's active port; other ports keep their own name.
std::string routeNameForPort(std::string_view sinkName, std::string_view portName);
// From "pactl info" and "pactl list sinks" output: the default sink's active
// port as a route name; no value when the sink or its port is not listed.
std::optional<std::string> audioRouteFromPactl(std::string_view info, std::string_view sinks);
// Asks the sound server when one is listening under $XDG_RUNTIME_DIR and
// pactl is installed (each call asks afresh, waiting at most a second per
// command); no value otherwise.
std::optional<std::string> queryAudioRoute();

}  // namespace platform::gtk
