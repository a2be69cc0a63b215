// The database publisher: so far it only keeps its settings.
#include "server/publish/publisher.h"

#include "server/publish/database.h"

namespace tally {

struct Publisher::Impl {
    PublishSettings settings;
};

Publisher::Publisher(Store&, History&, std::unique_ptr<Database> (*)()) : impl_(std::make_unique<Impl>()) {}
Publisher::~Publisher() = default;

void Publisher::configure(const PublishSettings& settings, const std::string&) { impl_->settings = settings; }
void Publisher::tick(std::uint32_t) {}

PublishStatus Publisher::status() const {
    PublishStatus s;
    s.enabled = impl_->settings.enabled;
    return s;
}

std::string Publisher::take_status_text() { return {}; }

std::string test_connection(Database& database, const std::string& connection_string) {
    if (!database.connect(connection_string)) return database.last_error();
    database.disconnect();
    return {};
}

}  // namespace tally
