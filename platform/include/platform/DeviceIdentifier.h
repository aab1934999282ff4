#pragma once
// The machine's identifier as one application may see it. machine-id(5) asks
// programs never to show the machine id itself but an identifier derived from
// it for the application, the way systemd's sd_id128_get_machine_app_specific
// derives it: HMAC-SHA256 keyed with the machine id over a 128-bit identifier
// of the application, its first half made a version-4 UUID. Two applications
// on one machine get unrelated identifiers; neither reveals the machine id.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The application's 128-bit identifier for the derivation: the first half of
// the SHA-256 of its name ("org.nimbra.Mensajes"), 32 lower-case hex digits.
// `systemd-id128 machine-id --app-specific=<this>` gives the same result as
// applicationSpecificMachineID on the same machine.
std::string applicationIdentifier128(std::string_view applicationName);

// 32 lower-case hex digits; none when the machine id is not 32 hex digits
// (blanks around them allowed) or is all zeros, as on a machine that has not
// set one up yet.
std::optional<std::string> applicationSpecificMachineID(std::string_view machineID, std::string_view applicationName);

}  // namespace platform
