#include "tests/support/scrape_pages.h"

#include <algorithm>
#include <random>

#include "base/ascii.h"

namespace djkivo::test {

const char* const kCategoryBlockPattern = "(?i)<div class=\"wq_4v\">(.+?)</div>";
const char* const kCategoryRowPattern =
    "(?i)<ul><li class=\"wq_2\"><input type=\"checkbox\"  class=\"checkbox\" name=\"check\" "
    "value=(\\d+) /> <a href=/dance/play/\\d+.html onClick=.+?>(.+?)</a>.+?<li "
    "class=\"wq_8\"><a href=\".+?\" target=_blank>(.+?)</a></li>.+?</ul>";
const char* const kSearchBlockPattern = "(?i)<div class=\"ser_3\">(.+?)</div>";
const char* const kSearchRowPattern =
    "(?i)<ul>.+?name=\"check\" value=\"(\\d+)\" /></li>.+?<li class=\"ser_8\">.+?>(.+?)</a></li>"
    ".+?<li class=\"ser_6\"><a href=\".+?\" target=_blank>(.+?)</a></li>.+?</ul>";
const char* const kTagStripPattern = "(?i)<.+?>";
const char* const kPlayPagePattern =
    "(?i)<SCRIPT LANGUAGE=JavaScript>var s_bstr=\"(.+?)\".+?righturl=\"(.+?)\";</SCRIPT>";

namespace {

// Song names: ASCII words, GBK characters (two bytes each), apostrophes.
const char* const kWords[] = {"DJ",
                              "Remix",
                              "Club",
                              "Mix",
                              "It's",
                              "Dance",
                              "\xC9\xCF\xBA\xA3",
                              "\xB5\xE7\xD2\xF4",
                              "\xCE\xE8\xC7\xFA",
                              "2024",
                              "Vol.3",
                              "Bass",
                              "Night's",
                              "Live",
                              "(Edit)"};
const char* const kUploaders[] = {"djmax", "\xC0\xCF\xCD\xF5", "club_k", "Mr'Bass", "dj 007"};

class Writer {
 public:
  Writer(const PageOptions& options) : options_(options), rng_(options.seed) {}

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string Name() {
    std::string name;
    int words = 1 + Pick(5);
    for (int k = 0; k < words; ++k) {
      if (k)
        name += ' ';
      name += kWords[Pick(static_cast<int>(std::size(kWords)))];
    }
    return name;
  }
  std::string Id() { return std::to_string(100000 + Pick(900000)); }
  std::string Uploader() { return kUploaders[Pick(static_cast<int>(std::size(kUploaders)))]; }

  // Markup, upper-cased when asked (attribute values and text stay as they are).
  std::string Tag(std::string markup) const {
    return options_.upper_case ? AsciiUppered(markup) : markup;
  }

  // Filler cells that bring a row to about the configured size.
  std::string Filler(std::size_t so_far) {
    std::string filler;
    while (so_far + filler.size() + 60 < options_.row_bytes) {
      filler += Tag("<li class=\"wq_x\">") + "<span title='n" + std::to_string(Pick(999)) + "'>" +
                std::to_string(Pick(99999)) + " plays</span>" + Tag("</li>");
      if (Pick(3) == 0)
        filler += "\r\n";
    }
    return filler;
  }

  const PageOptions& options_;
  std::mt19937 rng_;
};

}  // namespace

std::string ReplaceApostrophes(std::string text) {
  std::replace(text.begin(), text.end(), '\'', '"');
  return text;
}

std::string MakeListPage(const PageOptions& options, std::vector<PageRow>* rows) {
  Writer w(options);
  std::string page =
      "<html><head><title>DJ</title></head><body>\r\n"
      "<div class=\"wq_4\"><ul><li class=\"wq_2\">near miss</li></ul></div>\r\n"
      "<div class='wq_4v_top'>top</div>\r\n" +
      w.Tag("<div class=\"wq_4v\">") + "\r\n" + w.Tag("<ul><li class=\"wq_2\">") + "Title" +
      w.Tag("</li><li class=\"wq_8\">") + "Uploader" + w.Tag("</li></ul>") + "\r\n";
  const std::string uploader_class = options.broken ? "wq_up" : "wq_8";
  for (int r = 0; r < options.rows; ++r) {
    PageRow row{w.Id(), w.Name(), w.Uploader(), {}};
    std::string line = w.Tag(
                           "<ul><li class=\"wq_2\"><input type=\"checkbox\"  class=\"checkbox\" "
                           "name=\"check\" value=") +
                       row.id + w.Tag(" /> <a href=/dance/play/") + row.id +
                       w.Tag(".html onClick=") + "'playsong(" + row.id +
                       ");return false;' title='" + row.name + "'>" + row.name + w.Tag("</a></li>");
    line += (r % 2 ? "\r\n" : "") + w.Tag("<li class=\"wq_3\">") + "2024-0" +
            std::to_string(1 + w.Pick(9)) + w.Tag("</li>");
    line += w.Filler(line.size() + 200);
    line += w.Tag("<li class=\"" + uploader_class + "\"><a href=\"") + "/user/" + row.uploader +
            ".html\"" + w.Tag(" target=_blank>") + row.uploader + w.Tag("</a></li>") +
            (r % 3 ? "" : "\r\n") + w.Tag("<li class=\"wq_9\">") + "128k" + w.Tag("</li></ul>") +
            "\r\n";
    page += line;
    row.name = ReplaceApostrophes(row.name);
    row.plain_name = row.name;
    row.uploader = ReplaceApostrophes(row.uploader);
    if (rows)
      rows->push_back(row);
  }
  page += w.Tag("</div>") +
          "\r\n<div class=\"wq_4v\">second block</div>\r\n"
          "<div class=\"page\"><a href='2.html'>next</a></div></body></html>\r\n";
  return ReplaceApostrophes(page);
}

std::string MakeSearchPage(const PageOptions& options, std::vector<PageRow>* rows) {
  Writer w(options);
  std::string page = "<html><body>\r\n<div class=\"ser_2\"><ul><li>near miss</li></ul></div>\r\n" +
                     w.Tag("<div class=\"ser_3\">") + "\r\n";
  const std::string uploader_class = options.broken ? "ser_up" : "ser_6";
  for (int r = 0; r < options.rows; ++r) {
    PageRow row{w.Id(), w.Name(), w.Uploader(), {}};
    std::string shown = row.name;
    std::size_t space = shown.find(' ');
    if (space != std::string::npos)
      shown = w.Tag("<b>") + shown.substr(0, space) + w.Tag("</b>") + shown.substr(space);
    std::string line = w.Tag(
                           "<ul><li class=\"ser_1\"><input type=\"checkbox\" name=\"check\" "
                           "value=\"") +
                       row.id + "\" " + w.Tag("/></li>") + "\r\n" +
                       w.Tag("<li class=\"ser_8\"><a href=\"/dance/play/") + row.id +
                       ".html\" title='" + row.name + w.Tag("' target=\"_blank\">") + shown +
                       w.Tag("</a></li>");
    line += w.Filler(line.size() + 200);
    line += (r % 2 ? "\r\n" : "") + w.Tag("<li class=\"" + uploader_class + "\"><a href=\"") +
            "/user/x.html\"" + w.Tag(" target=_blank>") + " " + row.uploader + "  " +
            w.Tag("</a></li><li class=\"ser_7\">") + "2024" + w.Tag("</li></ul>") + "\r\n";
    page += line;
    row.plain_name = ReplaceApostrophes(row.name);
    row.name = ReplaceApostrophes(shown);
    row.uploader = ReplaceApostrophes(" " + row.uploader + "  ");
    if (rows)
      rows->push_back(row);
  }
  page += w.Tag("</div>") + "\r\n</body></html>\r\n";
  return ReplaceApostrophes(page);
}

std::string MakePlayPage(std::size_t bytes, unsigned seed, std::string* address) {
  PageOptions options;
  options.seed = seed;
  Writer w(options);
  std::string head = "<html><head><script language=javascript src='x.js'></script>\r\n";
  std::string filler;
  while (head.size() + filler.size() + 400 < bytes)
    filler +=
        "<div class='c'><a href='/dance/play/" + w.Id() + ".html'>" + w.Name() + "</a></div>\r\n";
  const std::string first = "http://s" + std::to_string(w.Pick(9)) + ".example.net/";
  const std::string second = "2024/" + w.Id() + ".wma";
  std::string script = "<SCRIPT LANGUAGE=JavaScript>var s_bstr='" + first +
                       "';\r\nvar t='x';\r\nrighturl='" + second + "';</SCRIPT>\r\n";
  if (address)
    *address = first + second;
  return ReplaceApostrophes(head + filler.substr(0, filler.size() / 2) + script +
                            filler.substr(filler.size() / 2) + "</body></html>");
}

std::vector<std::string> MakeTaggedNames(int count, unsigned seed,
                                         std::vector<std::string>* stripped) {
  PageOptions options;
  options.seed = seed;
  Writer w(options);
  std::vector<std::string> names;
  for (int k = 0; k < count; ++k) {
    std::string a = w.Name(), b = w.Name();
    names.push_back(a + " <b>" + b + "</B> <font color=red>x</font>");
    if (stripped)
      stripped->push_back(a + " " + b + " x");
  }
  return names;
}

}  // namespace djkivo::test
