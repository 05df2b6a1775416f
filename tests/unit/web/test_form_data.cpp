// Form parsing: URL-encoded and multipart bodies, the field limit, and the uploaded certificate.
#include <string>

#include "tests/unit/web/web_fixture.h"

namespace {

using FormData = WebTest;

TEST_F(FormData, UrlEncoded) {
  std::string long_value(2048, 'x');
  std::string text = "a=1+2%41&b=&c=%zz\r\n&d=" + long_value + "%41&e";
  http_parse_form_data(text.data(), nullptr);
  ASSERT_EQ(FormFieldTable.count, 4);
  EXPECT_STREQ(FormFieldTable.rows[0].value, "1 2A");
  EXPECT_STREQ(FormFieldTable.rows[1].value, "");
  EXPECT_STREQ(FormFieldTable.rows[2].value, "%zz");
  EXPECT_EQ(std::string(FormFieldTable.rows[3].value), long_value + "%41");  // long values keep escapes
}

TEST_F(FormData, MultipartStopsAt300Fields) {
  std::string body;
  for (int i = 0; i < 301; ++i)
    body += "--XYZ\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) + "\"\r\n\r\nv" + std::to_string(i) + "\r\n";
  body += "--XYZ--\r\n";
  http_parse_form_data(body.data(), " boundary=XYZ");
  ASSERT_EQ(FormFieldTable.count, 300);
  EXPECT_STREQ(FormFieldTable.rows[299].name, "f299");
  EXPECT_STREQ(FormFieldTable.rows[299].value, "v299");
}

TEST_F(FormData, MultipartFileAndMimeHeader) {
  std::string body =
      "MIME: Boundary=--b\n----b\r\nContent-Disposition: form-data; name=\"WEB_SSLCERT\"; filename=\"c.pem\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\nPEM DATA\r\n----b--\r\n";
  http_parse_form_data(body.data(), nullptr);
  ASSERT_EQ(FormFieldTable.count, 1);
  const FormField& f = FormFieldTable.rows[0];
  EXPECT_STREQ(f.name, "WEB_SSLCERT");
  EXPECT_STREQ(f.filename, "c.pem");
  EXPECT_STREQ(f.value, "PEM DATA");
  EXPECT_EQ(f.value_end - f.value + 1, 8);
  ASSERT_EQ(http_save_uploaded_cert(&f), 1);
  EXPECT_EQ(read_file(dir.file("httpd/cert_web.pem")), "PEM DATA");
  std::string big = "--q\r\nContent-Disposition: form-data; name=\"c\"; filename=\"x\"\r\n\r\n" + std::string(20001, 'k') + "\r\n--q--";
  http_parse_form_data(big.data(), "boundary=q");
  ASSERT_EQ(FormFieldTable.count, 1);
  EXPECT_EQ(http_save_uploaded_cert(&FormFieldTable.rows[0]), 0);
  // Broken bodies give no fields.
  for (std::string bad : {"MIME: other", "--q\r\nContent-Type: x\r\n\r\nv\r\n--q", "--q\r\nContent-Disposition: x"}) {
    http_parse_form_data(bad.data(), bad[0] == 'M' ? nullptr : "boundary=q");
    EXPECT_EQ(FormFieldTable.count, 0) << bad;
  }
}

}  // namespace
