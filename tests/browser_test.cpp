// The gallery in a real browser: headless Chromium opens the page of the sample set, as bitmaps
// and as PNG files, and every thumbnail must decode. Skipped where Chromium is missing; .ci/run
// installs it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sample_writer.hpp"
#include "tool_runs.hpp"

namespace {

// Nothing that reaches for the network (this machine refuses it), and a fresh profile.
std::string chromium(const fs::path& profile, const std::string& what, const fs::path& page) {
  return "timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic"
         " --no-first-run --disable-background-networking --disable-component-update"
         " --disable-sync --virtual-time-budget=20000 --user-data-dir='" +
         profile.string() + "' " + what + " 'file://" + page.string() + "'";
}

// Added to a copy of the page: every thumbnail loads at once, so the load event waits for all;
// then the filter box is given "GFIL".
constexpr char decode_check[] = R"(<script>
document.querySelectorAll('img').forEach(function (image) { image.loading = 'eager'; });
window.addEventListener('load', function () {
  var images = Array.prototype.slice.call(document.images);
  var decoded = images.filter(function (image) { return image.naturalWidth > 0; }).length;
  document.body.append('decoded ' + decoded + ' of ' + images.length);
  var filter = document.getElementById('filter');
  filter.value = 'gfil';
  filter.dispatchEvent(new Event('input'));
  document.body.append(' filtered ' + document.querySelectorAll('figure:not([hidden])').length);
});
</script>
)";

TEST(GalleryInABrowser, EveryThumbnailDecodes) {
  if (!fs::exists("/usr/bin/chromium")) {
    ASSERT_EQ(std::getenv("OFB2BMP_REQUIRE_BROWSER"), nullptr) << "Chromium is required";
    GTEST_SKIP() << "Chromium is not installed (apt-get install chromium)";
  }
  tool_trees trees;
  trees.prepare(runner::native);
  const fs::path tree = trees.tree(runner::native);
  // The sample set, as tools/sample_writer writes it.
  write_pair(tree / "data", "PICS", direct_sample(64, 48));
  write_pair(tree / "data", "BFIL", frame_bank_sample(3, 16, 48));
  write_pair(tree / "data", "GFIL", screen_bank_sample(1));
  fs::create_directories(OFB2BMP_TEST_OUTPUT);
  for (const std::string format : {"bmp", "png"}) {
    ASSERT_EQ(trees.run(runner::native, "-q --gallery -f " + format + " -o " + format + " 'data/*'")
                  .status,
              0);
    const fs::path folder = tree / format;
    std::string check = read_text(folder / "index.html");
    check.insert(check.rfind("</body>"), decode_check);
    write_file(folder / "check.html", byte_vector(check.begin(), check.end()));
    const fs::path profile = tree / ("profile-" + format);
    shell(chromium(profile, "--dump-dom", folder / "check.html") + " >'" +
          (tree / "dom.html").string() + "' 2>/dev/null");
    const std::string files = std::to_string(trees.pictures(runner::native, format).size());
    const std::string dom = read_text(tree / "dom.html");
    EXPECT_NE(dom.find("decoded " + files + " of " + files + " filtered 147"), std::string::npos)
        << format << ": " << dom.substr(dom.size() - std::min<std::size_t>(dom.size(), 200));
    const fs::path screenshot = fs::path(OFB2BMP_TEST_OUTPUT) / ("gallery-" + format + ".png");
    fs::remove(screenshot);
    shell(chromium(profile,
                   "--hide-scrollbars --window-size=1280,900 --screenshot='" + screenshot.string() +
                       "'",
                   folder / "index.html") +
          " >/dev/null 2>&1");
    EXPECT_TRUE(fs::exists(screenshot)) << screenshot;
  }
}

} // namespace
