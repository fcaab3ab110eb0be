// systemd unit files: where a service's unit file and drop-ins lie under the
// layer's root, and the Description= they give. Standard headers only, so
// that fuzz targets and tests can call the parsers without the Win32
// declarations.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lystrel::layer {

/// The Description= that a unit file's text sets in its [Unit] section: none
/// when it sets none, an empty text when its last Description= is empty
/// (which resets any value set before). Comments, continuation lines and
/// surrounding whitespace are handled as systemd does.
std::optional<std::string> ParseUnitDescription(std::string_view unitText);

/// Expands the name specifiers of a text from the unit `unitName` (such as
/// "getty@tty1.service"): %n full name, %N name without the type suffix, %p
/// prefix, %P unescaped prefix, %i instance, %I unescaped instance, %f the
/// unescaped instance (or prefix) as a path, %% a percent sign. Other
/// specifiers are kept as written.
std::string ExpandUnitSpecifiers(std::string_view text, std::string_view unitName);

/// The description of a service unit from its unit file (or its template's)
/// and drop-ins, found in systemd's search order under the layer's root, with
/// specifiers expanded; none when no file gives a nonempty one.
std::optional<std::string> ReadUnitDescription(const std::string& unitName);

}  // namespace lystrel::layer
