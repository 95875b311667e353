// Reading a calendar or task source with bvhost dump.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace bvtest {

struct CalendarDump {
    int exitStatus = -1;
    std::vector<nlohmann::json> records;  // in hand-over order
    std::vector<int> statuses;
    std::string folders;  // the folders command's output
    std::string log;
};

// bvhost folders and dump of KIND:PATH, with the switch string (and extra
// bvhost options) given; the work directory and log live in a scratch dir.
CalendarDump DumpCalendar(const std::string &source, const std::string &switches = "",
                          const std::string &extraOptions = "");

}  // namespace bvtest
