#include "demo/catalogue.h"

#include "base/ascii.h"
#include "base/gbk.h"
#include "base/gbk_text.h"

namespace djkivo::demo {
namespace {

// Name pieces, combined so that every name differs. Some hold apostrophes, some the window's
// default search keyword "狗尾草", most hold Chinese text.
constexpr std::string_view kPrefixes[] = {"中文DJ", "Electro",  "慢摇串烧", "夜店热播",
                                          "DJ阿K",  "车载舞曲", "Club",     "原创Remix"};
constexpr std::string_view kTitles[] = {
    "狗尾草",           "夜色霓虹",        "星空下的舞步",  "Don't Stop Tonight", "海边的风",
    "心跳节拍",         "Neon Skyline",    "午夜列车",      "Midnight Pulse",     "We're Alive",
    "狗尾草的约定",     "Bassline Heaven", "城市灯火",      "远方的呼唤",         "追光者之舞",
    "Summer Rain",      "Let's Go Higher", "电音狂欢",      "风中的誓言",         "Sunset Drive",
    "青春舞会",         "Electric Dreams", "梦里花开",      "I'm Falling",        "蓝色天空",
    "Jump Around Town", "月光沙滩",        "Heartbeat 128", "红尘一梦",           "狗尾草之歌"};
constexpr std::string_view kSuffixes[] = {
    "", " (Club Mix)", " 2026版", " [Extended]", " (Radio Edit)", " 劲爆版", " Rock'n'Roll Mix"};
constexpr std::string_view kUploaders[] = {"dj小王", "舞曲之家", "O'Brien",      "BassKing",
                                           "夜猫子", "DJ阿杰",   "Mike's Beats", "电音部落",
                                           "小鱼儿", "RemixLab", "北京DJ联盟",   "Lily"};

constexpr std::array<DemoCategory, 8> kCategories = {{
    {1, "recommend", "最新推荐"},
    {2, "recommend_month", "每月排行"},
    {3, "recommend_download", "下载排行"},
    {4, "recommend_year", "年度排行"},
    {7, "Kushiyaki", "串烧舞曲"},
    {8, "chinese", "中文舞曲"},
    {9, "foreign", "国外舞曲"},
    {10, "remix", "原创舞曲"},
}};

unsigned Mix(unsigned x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace

DemoCatalogue::DemoCatalogue(SongLength length) {
  songs_.reserve(kSongCount);
  for (int i = 0; i < kSongCount; ++i) {
    DemoSong song;
    song.id = std::to_string(230017 + i * 13);
    std::string name = std::string(kPrefixes[i % std::size(kPrefixes)]) + " - " +
                       std::string(kTitles[(i * 11) % std::size(kTitles)]) +
                       std::string(kSuffixes[i % std::size(kSuffixes)]);
    song.name = Gbk(name);
    song.listed_name = i % 17 == 0 ? "<FONT COLOR=#FF0000>" + song.name + "</FONT>" : song.name;
    song.uploader = Gbk(kUploaders[(i * 5) % std::size(kUploaders)]);
    song.seed = Mix(static_cast<unsigned>(i) + 1);
    song.seconds = length == SongLength::kShort ? 1.0 + (i % 11) / 10.0 : 20 + song.seed % 71;
    song.format = i % 2 == 0 ? AudioFormat::kMp3 : AudioFormat::kWma;
    song.apostrophe_quotes = i % 3 == 1;
    songs_.push_back(std::move(song));
  }
}

const DemoSong* DemoCatalogue::FindSong(std::string_view id) const {
  for (const DemoSong& song : songs_)
    if (song.id == id)
      return &song;
  return nullptr;
}

const std::array<DemoCategory, 8>& DemoCatalogue::Categories() { return kCategories; }

const DemoCategory* DemoCatalogue::FindCategory(std::string_view slug) {
  for (const DemoCategory& category : kCategories)
    if (category.slug == slug)
      return &category;
  return nullptr;
}

std::vector<const DemoSong*> DemoCatalogue::CategoryPage(const DemoCategory& category,
                                                         int page) const {
  std::vector<const DemoSong*> rows;
  if (page < 1 || page > kCategoryPages)
    return rows;
  int ordinal = static_cast<int>(&category - kCategories.data());
  for (int row = 0; row < kRowsPerPage; ++row) {
    int position = (page - 1) * kRowsPerPage + row;
    // 7 is prime to the song count, so a category never lists a song twice.
    rows.push_back(&songs_[static_cast<std::size_t>((position * 7 + ordinal * 31) % kSongCount)]);
  }
  return rows;
}

std::vector<const DemoSong*> DemoCatalogue::Search(std::string_view keyword) const {
  std::vector<const DemoSong*> found;
  for (const DemoSong& song : songs_)
    if (keyword.empty() || !FindKeyword(song.name, keyword).empty())
      found.push_back(&song);
  return found;
}

std::vector<std::size_t> DemoCatalogue::FindKeyword(std::string_view name,
                                                    std::string_view keyword) {
  std::vector<std::size_t> offsets;
  if (keyword.empty())
    return offsets;
  for (std::size_t at = 0; at + keyword.size() <= name.size();) {
    // Letter case is ignored in single-byte characters only: a trail byte keeps its case.
    bool equal = true;
    for (std::size_t k = 0; k < keyword.size() && equal;) {
      const std::size_t length = GbkCharLength(keyword, k);
      equal = length == 1 ? AsciiLower(name[at + k]) == AsciiLower(keyword[k])
                          : name.substr(at + k, length) == keyword.substr(k, length);
      k += length;
    }
    if (equal) {
      offsets.push_back(at);
      at += keyword.size();
    } else {
      at += GbkCharLength(name, at);
    }
  }
  return offsets;
}

}  // namespace djkivo::demo
