// A part's header fields read with GMime: names decoded, kind, boundary and
// transfer encoding, whether or not a name is harmful.
#include "message/part_header.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(read_part_header, decodes_names_and_reads_the_structure) {
  struct row {
    part_header_fields fields;
    std::vector<std::string> names;
    part_kind kind;
    std::string boundary;
    part_encoding encoding;
  };
  const row rows[] = {
      {{{"application/pdf; name=\"report.pdf\""}, {"attachment;\r\n\tfilename=\"report.pdf\""}, ""},
       {"report.pdf", "report.pdf"},
       part_kind::leaf,
       "",
       part_encoding::identity},
      {{{}, {"attachment; filename*=iso-8859-1''Bericht%FC.txt"}, "BASE64"},
       {"Bericht\xC3\xBC.txt"},
       part_kind::leaf,
       "",
       part_encoding::base64},
      {{{"text/plain; name=\"=?UTF-8?Q?caf=C3=A9.txt?=\""}, {}, "quoted-printable"},
       {"caf\xC3\xA9.txt"},
       part_kind::leaf,
       "",
       part_encoding::quoted_printable},
      {{{"Multipart/Mixed (comment); BOUNDARY=\"==_b 1\""}, {}, "7bit"},
       {},
       part_kind::multipart,
       "==_b 1",
       part_encoding::identity},
      {{{"message/rfc822"}, {"inline"}, ""}, {}, part_kind::message, "", part_encoding::identity},
      {{{"not a type"}, {"attachment; filename="}, ""},
       {},
       part_kind::leaf,
       "",
       part_encoding::identity},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.fields.content_types.empty() ? r.fields.dispositions.front()
                                                : r.fields.content_types.front());
    part_header header = read_part_header(r.fields, "text/plain");
    EXPECT_EQ(header.names, r.names);
    EXPECT_EQ(header.kind, r.kind);
    EXPECT_EQ(header.boundary, r.boundary);
    EXPECT_EQ(header.encoding, r.encoding);
  }
  EXPECT_EQ(read_part_header({}, "message/rfc822").kind, part_kind::message);  // in a digest
}
