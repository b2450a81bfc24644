#pragma once

// The one request kvfetch makes. Shared with kvfetch-doctor so that the
// doctor asks exactly what the program asks. The service host is fixed at
// build time (KVFETCH_SERVICE_HOST); no port, so HTTP's default.
inline constexpr wchar_t kConfigUrl[] = L"http://" KVFETCH_SERVICE_HOST "/live/vip/getKvConfig";
