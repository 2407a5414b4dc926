#include "pictures/gallery.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "pictures/picture_names.hpp"

namespace {

// Thumbnails fit a square of this many pixels.
constexpr std::int32_t thumbnail_box = 128;

struct thumbnail {
  std::int32_t width;
  std::int32_t height;
  bool pixelated; // scaled up: each pixel a sharp square, not a blur
};

// Small pictures grow by a whole factor, so every pixel stays a square of equal size; large
// ones shrink to fit.
thumbnail thumbnail_of(std::int32_t width, std::int32_t height) {
  if (width <= thumbnail_box && height <= thumbnail_box) {
    const std::int32_t scale = std::min(thumbnail_box / width, thumbnail_box / height);
    return {width * scale, height * scale, scale > 1};
  }
  const double factor = std::min(double(thumbnail_box) / width, double(thumbnail_box) / height);
  const auto side = [factor](std::int32_t pixels) {
    return std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(pixels * factor)));
  };
  return {side(width), side(height), false};
}

// The length of the UTF-8 character at `at`, or 0 for a byte that is shown escaped: one not
// starting a valid sequence (no overlong forms, surrogates or code points past U+10FFFF), or a
// control character.
std::size_t character_length(const std::string& bytes, std::size_t at) {
  const auto byte = [&](std::size_t k) -> unsigned {
    return at + k < bytes.size() ? static_cast<unsigned char>(bytes[at + k]) : 0;
  };
  const unsigned lead = byte(0);
  if (lead < 0x20 || lead == 0x7F) {
    return 0;
  }
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 4;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) {
      return 0;
    }
  }
  return length;
}

constexpr char hex_digits[] = "0123456789ABCDEF";

// A name as HTML text or attribute value: markup characters as references, and bytes that are
// no UTF-8 (a Shift-JIS name on Linux) as a visible \xNN, never raw.
std::string html_text(const std::string& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = character_length(bytes, at);
    const char c = bytes[at];
    if (length == 0) {
      const auto value = static_cast<unsigned char>(c);
      text += {'\\', 'x', hex_digits[value >> 4], hex_digits[value & 15]};
    } else if (length > 1) {
      text.append(bytes, at, length);
    } else if (c == '&') {
      text += "&amp;";
    } else if (c == '<') {
      text += "&lt;";
    } else if (c == '>') {
      text += "&gt;";
    } else if (c == '"') {
      text += "&quot;";
    } else if (c == '\'') {
      text += "&#39;";
    } else {
      text += c;
    }
    at += std::max<std::size_t>(length, 1);
  }
  return text;
}

// A file name as a link relative to the page: every byte but the unreserved ones
// percent-encoded, so '#', '?', '%' and blanks stay part of the name.
std::string link_to(const std::string& name) {
  std::string link;
  for (const char c : name) {
    const auto value = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      link += c;
    } else {
      link += {'%', hex_digits[value >> 4], hex_digits[value & 15]};
    }
  }
  return link;
}

std::string size_of(const gallery_entry& entry) {
  return std::to_string(entry.width) + "\xC3\x97" + std::to_string(entry.height); // ×
}

// One figure: a thumbnail linking to its file, or what broke, with its caption.
std::string figure_of(const gallery_entry& entry) {
  const std::string name = html_text(entry.file_name);
  const std::string details = size_of(entry) + ' ' + kind_name(entry.place.kind);
  if (entry.status == picture_status::broken_record) {
    return "<figure class=\"broken\" data-name=\"" + html_text(entry.message) +
           "\"><div class=\"box\">broken</div><figcaption>" + html_text(entry.message) +
           "</figcaption></figure>\n";
  }
  if (entry.status == picture_status::broken_frame) {
    return "<figure class=\"broken\" data-name=\"" + name + ' ' + html_text(entry.message) +
           "\"><div class=\"box\">broken</div><figcaption>" + name + "<br>" + details + "<br>" +
           html_text(entry.message) + "</figcaption></figure>\n";
  }
  const std::string link = link_to(entry.file_name);
  std::string inside = "no pixels"; // a bitmap of width or height 0: a file, but nothing to see
  if (entry.width > 0 && entry.height > 0) {
    const thumbnail shown = thumbnail_of(entry.width, entry.height);
    inside = "<img src=\"" + link + "\" width=\"" + std::to_string(shown.width) + "\" height=\"" +
             std::to_string(shown.height) + "\"" + (shown.pixelated ? " class=\"px\"" : "") +
             " loading=\"lazy\" decoding=\"async\" alt=\"" + name + "\">";
  }
  return "<figure data-name=\"" + name + "\"><a class=\"box\" href=\"" + link + "\">" + inside +
         "</a><figcaption>" + name + "<br>" + details + "</figcaption></figure>\n";
}

constexpr char page_head[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>ofb2bmp gallery</title>
<style>
body{font:13px/1.3 sans-serif;margin:12px;background:#eee;color:#222}
h1{font-size:18px;margin:0 0 4px}
h2{font-size:15px;margin:16px 0 6px;word-break:break-all}
[hidden]{display:none!important}
.record{display:inline-block;vertical-align:top;max-width:100%;box-sizing:border-box;margin:0 4px 4px 0;padding:3px;background:#fff;border:1px solid #ccc}
.record>b{display:block;font-weight:normal;color:#666}
figure{display:inline-block;vertical-align:top;margin:1px;width:128px}
.box{display:flex;align-items:center;justify-content:center;width:128px;height:128px;background:#ddd;color:#666}
.px{image-rendering:pixelated}
figcaption{font-size:11px;word-break:break-all}
.broken .box,.broken figcaption{color:#b00}
#filter{font:inherit;margin:6px 0;width:20em}
nav ul{margin:4px 0 8px;padding-left:18px}
</style>
</head>
<body>
)";

// The filter box exists only where the script runs; without it every picture shows.
constexpr char page_end[] = R"(<script>
(function () {
  var box = document.createElement('input');
  box.type = 'search';
  box.id = 'filter';
  box.placeholder = 'Filter by name';
  document.querySelector('h1').after(box);
  box.addEventListener('input', function () {
    var wanted = box.value.toLowerCase();
    document.querySelectorAll('figure').forEach(function (figure) {
      figure.hidden = figure.dataset.name.toLowerCase().indexOf(wanted) < 0;
    });
    ['.record', 'section'].forEach(function (group) {
      document.querySelectorAll(group).forEach(function (element) {
        element.hidden = !element.querySelector('figure:not([hidden])');
      });
    });
  });
})();
</script>
</body>
</html>
)";

} // namespace

void note_for_gallery(std::vector<gallery_entry>& entries, const output_options& files,
                      const picture_source& source, const picture& shown) {
  if (shown.status == picture_status::ok && !gives_file(files, shown)) {
    return;
  }
  gallery_entry& entry = entries.emplace_back();
  entry.index_path = source.index_path;
  entry.place = shown.place;
  entry.status = shown.status;
  entry.width = shown.width;
  entry.height = shown.height;
  if (shown.status == picture_status::broken_record) {
    entry.message = text_of(text::broken_record, source.archive_path, shown.place.entry);
  } else {
    entry.file_name = picture_name(files, source.base_name, shown.place);
    if (shown.status == picture_status::broken_frame) {
      entry.message = text_of(text::broken_frame, files.folder + entry.file_name);
    }
  }
  if (!entry.message.empty() && entry.message.back() == '\n') {
    entry.message.pop_back();
  }
}

std::vector<gallery_entry>
pictures_on_disk(std::vector<gallery_entry> entries,
                 const std::function<bool(const std::string&)>& file_there) {
  // Pictures written in turn stop at the failed one; writer threads may have been given later
  // ones, whose files were taken away again. Either way the first missing file ends the page.
  const auto missing = std::find_if(entries.begin(), entries.end(), [&](const gallery_entry& e) {
    return e.status == picture_status::ok && !file_there(e.file_name);
  });
  entries.erase(missing, entries.end());
  std::set<std::string> later;
  std::vector<gallery_entry> shown;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (entry->status != picture_status::ok || later.insert(entry->file_name).second) {
      shown.push_back(std::move(*entry));
    }
  }
  std::reverse(shown.begin(), shown.end());
  return shown;
}

// Where each index file's group begins in the entries, in order: its first entry and how many
// pictures and broken ones it holds.
struct index_group {
  std::size_t first = 0;
  std::size_t pictures = 0;
  std::size_t broken = 0;
};
std::vector<index_group> index_groups(const std::vector<gallery_entry>& entries) {
  std::vector<index_group> groups;
  for (std::size_t at = 0; at < entries.size(); ++at) {
    if (at == 0 || entries[at].index_path != entries[at - 1].index_path) {
      groups.push_back({at, 0, 0});
    }
    (entries[at].status == picture_status::ok ? groups.back().pictures : groups.back().broken)++;
  }
  return groups;
}

// The table of contents: a link to each index file's group, with its counts.
std::string contents_of(const std::vector<gallery_entry>& entries,
                        const std::vector<index_group>& groups) {
  std::string contents = "<nav><ul>\n";
  for (std::size_t k = 0; k < groups.size(); ++k) {
    contents += "<li><a href=\"#f" + std::to_string(k) + "\">" +
                html_text(entries[groups[k].first].index_path) + "</a> " +
                counted(std::int64_t(groups[k].pictures), "picture") + ", " +
                std::to_string(groups[k].broken) + " broken</li>\n";
  }
  return contents + "</ul></nav>\n";
}

std::string gallery_page(const std::vector<gallery_entry>& entries) {
  std::size_t pictures = 0;
  std::set<std::string> index_files;
  for (const gallery_entry& entry : entries) {
    pictures += entry.status == picture_status::ok ? 1 : 0;
    index_files.insert(entry.index_path);
  }
  std::string page = page_head;
  page += "<h1>" + counted(std::int64_t(pictures), "picture") + " from " +
          counted(std::int64_t(index_files.size()), "index file") + ", " +
          std::to_string(entries.size() - pictures) + " broken</h1>\n";
  const std::vector<index_group> groups = index_groups(entries);
  page += contents_of(entries, groups);
  for (std::size_t at = 0, group = 0; at < entries.size(); ++group) {
    const std::string& index_path = entries[at].index_path;
    page +=
        "<section id=\"f" + std::to_string(group) + "\">\n<h2>" + html_text(index_path) + "</h2>\n";
    while (at < entries.size() && entries[at].index_path == index_path) {
      const std::int32_t record = entries[at].place.entry;
      page += "<div class=\"record\"><b>entry " + std::to_string(record) + "</b>\n";
      for (; at < entries.size() && entries[at].index_path == index_path &&
             entries[at].place.entry == record;
           ++at) {
        page += figure_of(entries[at]);
      }
      page += "</div>\n";
    }
    page += "</section>\n";
  }
  return page + page_end;
}
