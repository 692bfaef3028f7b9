// teslo-check on a host without Sendmail's files: the note about the
// harmless err lines, and silence where sendmail.cf exists.
#include "checker/mta_report.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "mtaconfig/mta_test_support.hpp"

TEST(report_missing_sendmail, names_the_err_lines_that_a_postfix_host_sees) {
  mta_test::scratch_dir dir;
  const std::string cf = dir.path("sendmail.cf");
  const std::string mc = dir.path("brin.mc");
  struct files_case {
    bool cf_present, mc_present;
    std::string want;
  };
  const files_case cases[] = {
      {true, true, ""},
      {true, false, ""},
      {false, true,
       cf + ": absent: teslo logs \"can not milter configuraiton\" at every start and "
            "\"sendmail.cf configuration error\" at every stop (LOG_ERR). Behind Postfix, with no "
            "Sendmail on the host, these lines are harmless: the filter works without them.\n"},
      {false, false,
       cf + ": absent: teslo logs \"can not milter configuraiton\" and \"" + mc +
           " remake error!\" at every start and \"sendmail.cf configuration error\" and \"" + mc +
           " remake error!\" at every stop (LOG_ERR). Behind Postfix, with no Sendmail on the "
           "host, these lines are harmless: the filter works without them.\n"},
  };
  for (const files_case& c : cases) {
    SCOPED_TRACE(std::to_string(c.cf_present) + std::to_string(c.mc_present));
    std::remove(cf.c_str());
    std::remove(mc.c_str());
    if (c.cf_present) mta_test::write_file(cf, "O InputMailFilters=\n");
    if (c.mc_present) mta_test::write_file(mc, "MAILER(local)\n");
    std::ostringstream out;
    report_missing_sendmail(cf, mc, out);
    EXPECT_EQ(out.str(), c.want);
  }
}
