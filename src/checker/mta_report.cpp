#include "checker/mta_report.hpp"

#include <filesystem>
#include <system_error>

namespace {

bool exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace

void report_missing_sendmail(const std::string& sendmail_cf, const std::string& macro_file,
                             std::ostream& out) {
  if (exists(sendmail_cf)) return;
  std::string macro_line;
  if (!exists(macro_file)) macro_line = " and \"" + macro_file + " remake error!\"";
  out << sendmail_cf << ": absent: teslo logs \"can not milter configuraiton\"" << macro_line
      << " at every start and \"sendmail.cf configuration error\"" << macro_line
      << " at every stop (LOG_ERR). Behind Postfix, with no Sendmail on the host, these lines are "
         "harmless: the filter works without them.\n";
}
