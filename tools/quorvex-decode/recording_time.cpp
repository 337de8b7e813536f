#include "tools/quorvex-decode/recording_time.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <sys/stat.h>

#include <chrono>

namespace {

constexpr GstClockTime kDiscoverTimeout = 10 * GST_SECOND;

std::optional<std::int64_t> DeclaredTime(const std::filesystem::path& media) {
  GError* error = nullptr;
  GstDiscoverer* discoverer = gst_discoverer_new(kDiscoverTimeout, &error);
  if (!discoverer) {
    g_clear_error(&error);
    return std::nullopt;
  }
  gchar* uri = gst_filename_to_uri(media.c_str(), nullptr);
  GstDiscovererInfo* info = uri ? gst_discoverer_discover_uri(discoverer, uri, &error) : nullptr;
  g_free(uri);
  g_clear_error(&error);
  std::optional<std::int64_t> result;
  const GstTagList* tags = info ? gst_discoverer_info_get_tags(info) : nullptr;
  GstDateTime* dateTime = nullptr;
  GDate* date = nullptr;
  if (tags && gst_tag_list_get_date_time(tags, GST_TAG_DATE_TIME, &dateTime) &&
      gst_date_time_has_day(dateTime)) {
    if (GDateTime* g = gst_date_time_to_g_date_time(dateTime)) {
      result = g_date_time_to_unix(g);
      g_date_time_unref(g);
    }
  } else if (tags && gst_tag_list_get_date(tags, GST_TAG_DATE, &date) && g_date_valid(date)) {
    using namespace std::chrono;
    const sys_days day = year_month_day(year(g_date_get_year(date)), month(g_date_get_month(date)),
                                        std::chrono::day(g_date_get_day(date)));
    result = duration_cast<seconds>((day + hours(12)).time_since_epoch()).count();
  }
  if (dateTime) gst_date_time_unref(dateTime);
  if (date) g_date_free(date);
  if (info) g_object_unref(info);
  g_object_unref(discoverer);
  return result;
}

}  // namespace

std::optional<std::int64_t> RecordingTime(const std::filesystem::path& media) {
  struct stat st {};
  if (::stat(media.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (auto declared = DeclaredTime(media)) return declared;
  return static_cast<std::int64_t>(st.st_mtime);
}
