// The gallery in a real browser: headless Chromium opens the page of the sample set as bitmaps
// and as PNG files, and every thumbnail must decode. Skipped where Chromium is missing; .ci/run
// installs it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sample_writer.hpp"
#include "tool_runs.hpp"

namespace {

constexpr char chromium[] = "/usr/bin/chromium";

// Nothing that reaches for the network (this machine refuses it), a fresh profile, and a
// virtual clock that lets every picture load before the page is taken.
std::string chromium_command(const fs::path& profile) {
  return std::string("timeout 120 ") + chromium +
         " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
         " --disable-background-networking --disable-component-update --disable-sync"
         " --user-data-dir='" +
         profile.string() + "' --virtual-time-budget=20000 ";
}

// Appended to a copy of the page: loads every thumbnail at once, so that the page's load event
// waits for them all, then says how many decoded.
constexpr char decode_check[] = R"(<script>
document.querySelectorAll('img').forEach(function (image) { image.loading = 'eager'; });
window.addEventListener('load', function () {
  var images = Array.prototype.slice.call(document.images);
  var decoded = images.filter(function (image) { return image.naturalWidth > 0; }).length;
  var said = document.createElement('p');
  said.textContent = 'decoded ' + decoded + ' of ' + images.length;
  document.body.appendChild(said);
});
</script>
)";

TEST(GalleryInABrowser, EveryThumbnailDecodes) {
  if (!fs::exists(chromium)) {
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
  const fs::path screenshots = OFB2BMP_TEST_OUTPUT;
  fs::create_directories(screenshots);
  for (const std::string format : {"bmp", "png"}) {
    const tool_run result =
        trees.run(runner::native, "-q --gallery -f " + format + " -o " + format + " 'data/*'");
    ASSERT_EQ(result.status, 0) << result.errors;
    const fs::path folder = tree / format;
    const std::string page = read_text(folder / "index.html");
    const std::size_t body_end = page.rfind("</body>");
    ASSERT_NE(body_end, std::string::npos);
    const std::string check = page.substr(0, body_end) + decode_check + page.substr(body_end);
    write_file(folder / "check.html", byte_vector(check.begin(), check.end()));
    const fs::path profile = tree / ("profile-" + format);
    shell(chromium_command(profile) + "--dump-dom 'file://" + (folder / "check.html").string() +
          "' >'" + (tree / "dom.html").string() + "' 2>/dev/null");
    const std::string files = std::to_string(trees.pictures(runner::native, format).size());
    const std::string dom = read_text(tree / "dom.html");
    EXPECT_NE(dom.find("decoded " + files + " of " + files), std::string::npos)
        << format << ": " << dom.substr(dom.size() - std::min<std::size_t>(dom.size(), 200));
    const fs::path screenshot = screenshots / ("gallery-" + format + ".png");
    fs::remove(screenshot);
    shell(chromium_command(profile) + "--hide-scrollbars --window-size=1280,900 --screenshot='" +
          screenshot.string() + "' 'file://" + (folder / "index.html").string() +
          "' >/dev/null 2>&1");
    EXPECT_TRUE(fs::exists(screenshot)) << screenshot;
  }
}

} // namespace
