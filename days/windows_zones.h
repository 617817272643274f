#pragma once
// Windows names its zones by key ("W. Europe Standard Time"); libical by the tz
// database's names. The table is CLDR's, for the zone's main territory.
#include <string>

namespace zorvani {
namespace days {

// The libical zone of a Windows zone key name; empty for a name the table does not know.
std::string IanaZoneOfWindowsZone(const std::string& windowsName);

}  // namespace days
}  // namespace zorvani
