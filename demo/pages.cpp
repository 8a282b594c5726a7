#include "demo/pages.h"

#include <algorithm>
#include <cstdio>

#include "base/ascii.h"
#include "base/gbk_text.h"
#include "base/query_value.h"

namespace djkivo::demo {
namespace {

// Every fifth row is written in upper-case markup, every fourth quotes the uploader's link with
// apostrophes: the scrapers ignore letter case and turn apostrophes into double quotes.
bool UpperCaseRow(int row) { return row % 5 == 3; }
bool ApostropheRow(int row) { return row % 4 == 1; }

std::string EscapeHtml(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string PagePath(const DemoCategory& category, int page) {
  return "/dance/sort/" + std::string(category.slug) + "_" + std::to_string(page) + ".html";
}

std::string SearchPath(std::string_view keyword, int page) {
  return "/search.html?pageid=" + std::to_string(page) + "&keyword=" + EncodeQueryValue(keyword) +
         "&keytype=1";
}

// Details of a row that only fill the page: a date, a size and a play count from the song.
std::string RowDetails(const DemoSong& song) {
  char text[64];
  std::snprintf(text, sizeof text, "2026-%02u-%02u", song.seed % 12 + 1, song.seed / 12 % 28 + 1);
  return text;
}

std::string Head(std::string_view title_utf8, std::string_view title_gbk = {}) {
  return Gbk("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
             "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
             "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
             "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />\r\n"
             "<title>") +
         std::string(title_gbk) + Gbk(title_utf8) +
         Gbk(" - DJKivo舞曲网</title>\r\n"
             "<link href=\"/css/style.css\" rel=\"stylesheet\" type=\"text/css\" />\r\n"
             "<script type='text/javascript'>\r\n"
             "var checkedIds = new Array();\r\n"
             "function playone(id) { window.open('/dance/play/' + id + '.html', 'player'); "
             "return false; }\r\n"
             "function checkall(f) { for (var i = 0; i < f.elements.length; i++) "
             "{ if (f.elements[i].name == 'check') f.elements[i].checked = true; } }\r\n"
             "</script>\r\n</head>\r\n<body>\r\n");
}

std::string TopAndNavigation(int current_index) {
  std::string out =
      Gbk("<div class=\"top\"><a href=\"/\"><img src=\"/images/logo.gif\" alt=\"DJKivo\" /></a>\r\n"
          "<form action=\"/search.html\" method=\"get\"><input type=\"hidden\" name=\"pageid\" "
          "value=\"1\" /><input name=\"keyword\" value=\"\" /><input type=\"hidden\" "
          "name=\"keytype\" value=\"1\" /><input type=\"submit\" value=\"搜索\" /></form></div>\r\n"
          "<div class=\"nav\"><ul>\r\n<li><a href=\"/\">首页</a></li>\r\n");
  for (const DemoCategory& category : DemoCatalogue::Categories())
    out += Gbk("<li class=\"" + std::string(category.index == current_index ? "on" : "wq_2x") +
               "\"><a href=\"" + PagePath(category, 1) + "\">" + std::string(category.caption) +
               "</a></li>\r\n");
  out += "</ul></div>\r\n";
  return out;
}

std::string Foot() {
  return Gbk(
      "<div class=\"foot\">Copyright 2026 DJKivo 舞曲网 演示站点<script type=\"text/javascript\">"
      "document.write('<img src=\"/count.gif?r=' + Math.random() + '\" />');</script></div>\r\n"
      "</body>\r\n</html>\r\n");
}

std::string Pager(int page, int last, const auto& path_of) {
  std::string out = "<div class=\"page\">";
  out += Gbk("<a href=\"" + path_of(1) + "\">首页</a> ");
  if (page > 1)
    out += Gbk("<a href=\"" + path_of(page - 1) + "\">上一页</a> ");
  out += "<span>" + std::to_string(page) + "/" + std::to_string(std::max(last, 1)) + "</span> ";
  if (page < last)
    out += Gbk("<a href=\"" + path_of(page + 1) + "\">下一页</a> ");
  out += Gbk("<a href=\"" + path_of(std::max(last, 1)) + "\">尾页</a></div>\r\n");
  return out;
}

std::string CategoryRow(const DemoSong& song, int row) {
  const std::string quote = ApostropheRow(row) ? "'" : "\"";
  std::string open =
      "<ul><li class=\"wq_2\"><input type=\"checkbox\"  class=\"checkbox\" "
      "name=\"check\" value=";
  std::string link = " /> <a href=/dance/play/" + song.id + ".html onClick=";
  std::string link_end = "\"return playone(" + song.id + ");\" target=\"_blank\">";
  std::string details = "</a></li>\r\n<li class=\"wq_5\">" + RowDetails(song) +
                        "</li><li class=\"wq_6\">" + std::to_string(song.seed % 9 + 2) +
                        ".4M</li><li class=\"wq_7\">" + std::to_string(song.seed % 5000) +
                        "</li>\r\n<li class=\"wq_8\"><a href=" + quote + "/user/" +
                        std::to_string(song.seed % 900 + 100) + ".html" + quote + " target=_blank>";
  std::string close = "</a></li>\r\n<li class=\"wq_9\"><a href=\"/dance/down/" + song.id +
                      ".html\">" + Gbk("下载") + "</a></li></ul>\r\n";
  if (UpperCaseRow(row)) {
    // Tags and attribute names upper-case; ids, paths and texts as they are.
    open =
        "<UL><LI CLASS=\"WQ_2\"><INPUT TYPE=\"CHECKBOX\"  CLASS=\"CHECKBOX\" NAME=\"CHECK\" VALUE=";
    link = " /> <A HREF=/dance/play/" + song.id + ".html ONCLICK=";
    details = AsciiUppered(details.substr(0, details.find("<li class=\"wq_5\">"))) +
              "<LI CLASS=\"WQ_5\">" + RowDetails(song) +
              "</LI><LI CLASS=\"WQ_8\"><A HREF=" + quote + "/user/" +
              std::to_string(song.seed % 900 + 100) + ".html" + quote + " TARGET=_blank>";
    close = "</A></LI>\r\n<LI CLASS=\"WQ_9\">-</LI></UL>\r\n";
  }
  return open + song.id + link + link_end + song.listed_name + details + song.uploader + close;
}

std::string Highlight(std::string_view name, std::string_view keyword, bool upper) {
  std::string out;
  std::size_t done = 0;
  for (std::size_t at : DemoCatalogue::FindKeyword(name, keyword)) {
    out.append(name.substr(done, at - done));
    out += upper ? "<B>" : "<b>";
    out.append(name.substr(at, keyword.size()));
    out += upper ? "</B>" : "</b>";
    done = at + keyword.size();
  }
  out.append(name.substr(done));
  return out;
}

std::string SearchRow(const DemoSong& song, std::string_view keyword, int row) {
  bool upper = UpperCaseRow(row);
  // Some uploaders carry spaces around them, which the scraper trims.
  std::string pad = row % 3 == 0 ? " " : "";
  std::string text = "<ul><li class=\"ser_1\"><input type=\"checkbox\" name=\"check\" value=\"" +
                     song.id + "\" /></li>\r\n<li class=\"ser_8\"><a href=\"/dance/play/" +
                     song.id + ".html\" target=_blank>";
  std::string details = "</a></li>\r\n<li class=\"ser_5\">" + RowDetails(song) +
                        "</li>\r\n<li class=\"ser_6\"><a href=\"/user/" +
                        std::to_string(song.seed % 900 + 100) + ".html\" target=_blank>";
  std::string close =
      "</a></li>\r\n<li class=\"ser_7\">" + std::to_string(song.seed % 5000) + "</li></ul>\r\n";
  if (upper) {
    text = "<UL><LI CLASS=\"SER_1\"><INPUT TYPE=\"CHECKBOX\" NAME=\"CHECK\" VALUE=\"" + song.id +
           "\" /></LI>\r\n<LI CLASS=\"SER_8\"><A HREF=\"/dance/play/" + song.id +
           ".html\" TARGET=_blank>";
    details = "</A></LI>\r\n<LI CLASS=\"SER_5\">" + RowDetails(song) +
              "</LI>\r\n<LI CLASS=\"SER_6\"><A HREF=\"/user/" +
              std::to_string(song.seed % 900 + 100) + ".html\" TARGET=_blank>";
    close = "</A></LI>\r\n<LI CLASS=\"SER_7\">-</LI></UL>\r\n";
  }
  return text + Highlight(song.name, keyword, upper) + details + pad + song.uploader + pad + close;
}

}  // namespace

std::string HomePage() {
  std::string out = Head("首页") + TopAndNavigation(-1);
  out +=
      Gbk("<div class=\"home\"><h1>DJKivo云播放 "
          "演示站点</h1>\r\n<p>最嗨，最全，最好听的DJ音乐！</p>\r\n<ul>\r\n");
  for (const DemoCategory& category : DemoCatalogue::Categories())
    out += Gbk("<li><a href=\"" + PagePath(category, 1) + "\">" + std::string(category.caption) +
               "</a></li>\r\n");
  out += Gbk("<li><a href=\"" + SearchPath(Gbk("狗尾草"), 1) +
             "\">搜索：狗尾草</a></li>\r\n"
             "<li><a href=\"/djKivodata/ver.txt\">最新版本</a></li>\r\n</ul></div>\r\n");
  return out + Foot();
}

std::string CategoryListPage(const DemoCatalogue& catalogue, const DemoCategory& category,
                             int page) {
  std::string caption(category.caption);
  std::string out =
      Head(caption + " 第" + std::to_string(page) + "页") + TopAndNavigation(category.index);
  // Near misses before the list: a block of another class holding a row-like list, and a
  // title whose class only starts like the list block's.
  out += Gbk(
      "<div class=\"wq_4\">\r\n<ul><li class=\"wq_2\"><input type=\"checkbox\" class=\"checkbox\" "
      "name=\"check\" value=1 /> <a href=/dance/play/1.html onClick=\"return false;\">本周热门"
      "</a></li><li class=\"wq_8\"><a href=\"/user/1.html\" target=_blank>DJKivo</a></li>"
      "<li>-</li></ul>\r\n</div>\r\n<div class=\"wq_4vtitle\"><span>" +
      caption +
      "</span></div>\r\n<div class=\"wq_4v\">\r\n<ul class=\"wq_1\"><li class=\"wq_2\">选择</li>"
      "<li class=\"wq_3\">歌曲名称</li><li class=\"wq_8\">上传者</li><li class=\"wq_9\">下载</li>"
      "</ul>\r\n");
  std::vector<const DemoSong*> rows = catalogue.CategoryPage(category, page);
  for (std::size_t row = 0; row < rows.size(); ++row)
    out += CategoryRow(*rows[row], static_cast<int>(row));
  if (rows.empty())
    out += Gbk("<p class=\"wq_none\">暂无舞曲</p>\r\n");
  out += "</div>\r\n";
  out += Pager(page, kCategoryPages, [&](int p) { return PagePath(category, p); });
  return out + Foot();
}

std::string SearchResultPage(const DemoCatalogue& catalogue, std::string_view keyword, int page) {
  std::vector<const DemoSong*> found = catalogue.Search(keyword);
  int last = static_cast<int>((found.size() + kRowsPerPage - 1) / kRowsPerPage);
  std::string out = Head(" 搜索结果", EscapeHtml(keyword)) + TopAndNavigation(0);
  out += Gbk("<div class=\"ser_2\">搜索 \"") + "<b>" + EscapeHtml(keyword) + "</b>" +
         Gbk("\" 共找到 " + std::to_string(found.size()) + " 首舞曲</div>\r\n") +
         "<div class=\"ser_3\">\r\n" +
         Gbk("<ul class=\"ser_t\"><li class=\"ser_1\">选择</li><li class=\"ser_8\">歌曲名称</li>"
             "<li class=\"ser_6\">上传者</li></ul>\r\n");
  std::size_t first = page >= 1 ? static_cast<std::size_t>(page - 1) * kRowsPerPage : found.size();
  for (std::size_t i = first; i < found.size() && i < first + kRowsPerPage; ++i)
    out += SearchRow(*found[i], keyword, static_cast<int>(i - first));
  if (first >= found.size())
    out += Gbk("<p class=\"ser_none\">没有找到相关舞曲</p>\r\n");
  out += "</div>\r\n";
  out += Pager(std::max(page, 1), last, [&](int p) { return SearchPath(keyword, p); });
  return out + Foot();
}

std::string PlayPage(const DemoSong& song, std::string_view stream_base) {
  const char* extension = song.format == AudioFormat::kMp3 ? ".mp3" : ".wma";
  std::string out = Head(" - 在线试听", song.name);
  // A near miss first: an older script whose variable only starts like the real one.
  out += "<script language=javascript>var s_bstr_cdn=\"http://cdn.invalid/\";</script>\r\n";
  out += Gbk("<div class=\"play_1\"><h1>") + song.name + Gbk("</h1><p>上传者：") + song.uploader +
         "</p></div>\r\n<div id=\"player\"></div>\r\n";
  std::string q = song.apostrophe_quotes ? "'" : "\"";
  out += song.apostrophe_quotes ? "<script LANGUAGE=JavaScript>" : "<SCRIPT LANGUAGE=JavaScript>";
  out += "var s_bstr=" + q + std::string(stream_base) + q + ";\r\nvar songid=" + q + song.id + q +
         ";\r\nvar autoplay=1;\r\nvar righturl=" + q + song.id + extension + q + ";";
  out += song.apostrophe_quotes ? "</script>\r\n" : "</SCRIPT>\r\n";
  return out + Foot();
}

std::string NotFoundPage(std::string_view target) {
  return "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1><p>" +
         EscapeHtml(target) + "</p></body></html>\r\n";
}

}  // namespace djkivo::demo
