// The notable events of the run, as the game's timeline noted them, folded
// away under their count.
#include <string>

#include "sim/report/report_sections.h"
#include "sim/report/svg.h"

namespace sim::report {

void WriteEvents(std::ostream& out, const Timeline& timeline) {
  out << "<section id=\"events\"><h2>Events</h2>\n<details><summary>" << timeline.Entries().size()
      << " notable events of the run</summary>\n<table class=\"events\"><tr><th>frame</th><th>game "
         "time</th><th>what</th><th></th></tr>\n";
  for (const TimelineEntry& e : timeline.Entries()) {
    out << "<tr><td class=\"num\">" << (e.frame < 0 ? std::string("load") : std::to_string(e.frame))
        << "</td><td class=\"num\">" << e.time << "</td><td class=\"cat cat-"
        << XmlEscape(e.category) << "\">" << XmlEscape(e.category) << "</td><td>"
        << XmlEscape(e.text) << "</td></tr>\n";
  }
  out << "</table></details>\n";
  if (timeline.LeftOut() > 0) {
    out << "<p class=\"note\">" << timeline.LeftOut()
        << " later events are left out of this list.</p>\n";
  }
  out << "</section>\n";
}

}  // namespace sim::report
