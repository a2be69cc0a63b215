// The database publisher. The window's thread notes which computers changed
// (as the store tells it) and, at each tick, hands copies of them, the new
// change events and the slices of a full sync to one worker thread through
// a bounded queue; the worker writes them in batched transactions and keeps
// the watermark. While the database is away the worker holds its batch and
// the queue fills; the window's thread then hands nothing more and keeps
// only which computers changed and how far the events went.
#include "server/publish/publisher.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

#include "server/publish/database.h"
#include "server/publish/publish_batch.h"
#include "server/publish/statements.h"
#include "server/publish/watermark.h"
#include "server/store/history_file.h"
#include "server/store/mac_hash.h"
#include "server/store/store.h"

namespace tally {
namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t steady_ms() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

// Rows the worker may have waiting: a couple of hundred computers.
constexpr std::size_t queue_rows_limit = 20000;
// Time a tick may spend handing on.
constexpr auto tick_budget = std::chrono::milliseconds(5);
// A computer is handed once no datagram changed it for this long, so the
// datagrams of one report go as one state.
constexpr std::uint64_t quiet_ms = 250;
constexpr std::size_t events_per_item = 500;
constexpr std::uint64_t checkpoint_every_ms = 1000;
constexpr unsigned longest_retry_seconds = 60;
// A restart publishes again the computers that reported this long before
// the watermark's time: a report's datagrams may span that much.
constexpr std::uint32_t recovery_margin_seconds = 120;

std::string new_token() {
    std::random_device device;
    std::mt19937_64 mix((std::uint64_t(device()) << 32) ^ device() ^
                        static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()));
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (int k = 0; k < 2; ++k) {
        const std::uint64_t v = mix();
        for (int shift = 60; shift >= 0; shift -= 4) token.push_back(hex[(v >> shift) & 0xF]);
    }
    return token;
}

bool make_schema(Database& db) {
    for (const std::string& sql : schema_statements())
        if (!db.execute(sql)) return false;
    return true;
}

}  // namespace

// The queue between the two threads, and what the worker tells back.
struct PublishChannel {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<PublishItem> items;
    std::size_t rows = 0;
    bool stop = false;
    std::atomic<bool> full_sync_wanted{false};
    std::atomic<bool> connected{false};
    std::atomic<std::uint64_t> in_flight{0};  // units handed and not yet committed
    std::mutex text_mutex;
    std::string status_text;

    void tell(const std::string& text) {
        std::lock_guard<std::mutex> lock(text_mutex);
        status_text = text;
    }
};

// The worker thread: connects, gathers batches, writes them, and after an
// outage retries after 1, 2, 4 ... 60 s.
class PublishWorker {
public:
    PublishWorker(PublishChannel& channel, std::unique_ptr<Database> db, PublishSettings settings,
                  std::string directory, std::string token)
        : ch_(channel), db_(std::move(db)), settings_(std::move(settings)), directory_(std::move(directory)),
          token_(std::move(token)) {}
    void run();

private:
    bool stopping() {
        std::lock_guard<std::mutex> lock(ch_.mutex);
        return ch_.stop;
    }
    bool connect();
    void pull(PublishBatch& batch);
    void take(PublishBatch& batch, PublishItem item);
    bool write(const PublishBatch& batch, std::string& error);
    void committed(const PublishBatch& batch);
    void outage(const std::string& message);
    void wait_retry();
    void finish(PublishBatch& batch);

    PublishChannel& ch_;
    std::unique_ptr<Database> db_;
    PublishSettings settings_;
    std::string directory_;
    std::string token_;      // the token the database's sites row holds, as far as known
    bool full_sync_ = false; // a full sync is wanted or under way
    MacSet synced_;          // computers met since the full sync began
    bool away_ = false;      // an outage was reported
    unsigned retry_seconds_ = 1;
};

bool PublishWorker::connect() {
    std::vector<DatabaseRow> rows;
    if (!db_ || !db_->connect(settings_.connection_string) || !make_schema(*db_) ||
        !db_->query(select_token(settings_.site), rows)) {
        outage(db_ ? db_->last_error() : std::string("No database"));
        if (db_) db_->disconnect();
        return false;
    }
    const std::string held = rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
    // A first connection, or a database that another sync made (replaced,
    // or restored from a copy): everything goes again.
    if (held.empty() || held != token_) {
        full_sync_ = true;
        ch_.full_sync_wanted = true;
    }
    ch_.connected = true;
    if (away_) ch_.tell("Publishing to the database again");
    away_ = false;
    retry_seconds_ = 1;
    return true;
}

void PublishWorker::take(PublishBatch& batch, PublishItem item) {
    if (item.kind == PublishItem::Kind::full_sync_begin) {
        full_sync_ = true;
        synced_.clear();
    } else if (item.kind == PublishItem::Kind::computer && full_sync_) {
        const std::uint64_t key = mac_key(item.computer.mac.data());
        if (item.computer.snapshot.present)
            synced_.insert(key);
        else
            synced_.erase(key);
    }
    batch.add(std::move(item), steady_ms());
}

// Takes items into the batch until it is full, due by age, or the worker stops.
void PublishWorker::pull(PublishBatch& batch) {
    std::unique_lock<std::mutex> lock(ch_.mutex);
    while (!batch.full() && !ch_.stop) {
        if (!ch_.items.empty()) {
            PublishItem item = std::move(ch_.items.front());
            ch_.items.pop_front();
            ch_.rows -= item.rows();
            lock.unlock();
            take(batch, std::move(item));
            lock.lock();
            continue;
        }
        if (batch.empty()) {
            ch_.changed.wait(lock, [this] { return ch_.stop || !ch_.items.empty(); });
            continue;
        }
        const std::uint64_t now = steady_ms();
        if (now >= batch.due_ms()) return;
        ch_.changed.wait_for(lock, std::chrono::milliseconds(batch.due_ms() - now));
    }
}

bool PublishWorker::write(const PublishBatch& batch, std::string& error) {
    if (!db_->begin()) {
        error = db_->last_error();
        return false;
    }
    for (const std::string& sql : batch.statements(settings_.site, token_, synced_)) {
        if (db_->execute(sql)) continue;
        error = db_->last_error();
        db_->rollback();
        return false;
    }
    if (db_->commit()) return true;
    error = db_->last_error();
    db_->rollback();
    return false;
}

void PublishWorker::committed(const PublishBatch& batch) {
    ch_.in_flight -= batch.units();
    if (batch.begin_token()) token_ = *batch.begin_token();
    if (batch.end()) {
        full_sync_ = false;
        synced_.clear();
        // result not checked: the next mark writes the file again
        write_watermark(directory_, {token_, *batch.end()});
    } else if (batch.checkpoint() && !full_sync_) {
        write_watermark(directory_, {token_, *batch.checkpoint()});
    }
}

void PublishWorker::outage(const std::string& message) {
    ch_.connected = false;
    if (!away_) ch_.tell("Cannot publish to the database: " + message);
    away_ = true;
}

void PublishWorker::wait_retry() {
    std::unique_lock<std::mutex> lock(ch_.mutex);
    ch_.changed.wait_for(lock, std::chrono::seconds(retry_seconds_), [this] { return ch_.stop; });
    retry_seconds_ = std::min(retry_seconds_ * 2, longest_retry_seconds);
}

// At the stop: the batch in hand and what waits in the queue, while the
// database takes them; what is left goes again after the next start (the
// watermark tells what).
void PublishWorker::finish(PublishBatch& batch) {
    const auto until = Clock::now() + std::chrono::seconds(5);
    std::string error;
    while (db_->is_connected() && Clock::now() < until) {
        {
            std::lock_guard<std::mutex> lock(ch_.mutex);
            while (!batch.full() && !ch_.items.empty()) {
                PublishItem item = std::move(ch_.items.front());
                ch_.items.pop_front();
                ch_.rows -= item.rows();
                take(batch, std::move(item));
            }
        }
        if (batch.empty() || !write(batch, error)) break;
        committed(batch);
        batch.clear();
    }
}

void PublishWorker::run() {
    if (!db_) {
        outage("No database connection can be made");
        return;
    }
    PublishBatch batch;
    while (!stopping()) {
        if (!db_->is_connected() && !connect()) {
            wait_retry();
            continue;
        }
        pull(batch);
        if (stopping() || !batch.ready(steady_ms())) continue;
        std::string error;
        if (write(batch, error)) {
            committed(batch);
            batch.clear();
            continue;
        }
        outage(error);
        db_->disconnect();
        wait_retry();
    }
    finish(batch);
    db_->disconnect();
    ch_.connected = false;
}

// ------------------------------------------------------------ window's side

struct Publisher::Impl : StoreListener {
    Impl(Store& s, History& h, std::unique_ptr<Database> (*c)()) : store(s), history(h), connect(c) {}

    void mac_changed(const std::uint8_t* mac) override { note(mac, steady_ms()); }
    void record_changed(const std::uint8_t* mac) override { note(mac, steady_ms()); }
    void store_reopened() override {
        if (running()) channel->full_sync_wanted = true;
    }

    bool running() const { return worker.joinable(); }
    void note(const std::uint8_t* mac, std::uint64_t changed_ms) {
        if (running()) dirty[mac_key(mac)] = changed_ms;
    }
    void start(const std::string& token);
    void stop();
    void recover(const Watermark& w);

    std::uint64_t last_sequence() const { return history.is_open() ? history.next_sequence() - 1 : 0; }
    bool events_handed() const { return handed_sequence >= last_sequence(); }
    PublishedComputer copy_of(const std::uint8_t* mac) const;
    void push(std::vector<PublishItem>& items);
    std::size_t room() {
        std::lock_guard<std::mutex> lock(channel->mutex);
        return channel->rows < queue_rows_limit ? queue_rows_limit - channel->rows : 0;
    }
    void start_feed(std::uint32_t now, std::vector<PublishItem>& out);
    void hand_feed(Clock::time_point until, std::size_t& room_left, std::vector<PublishItem>& out);
    void hand_events(Clock::time_point until, std::size_t& room_left, std::vector<PublishItem>& out);
    void hand_dirty(Clock::time_point until, std::size_t& room_left, std::vector<PublishItem>& out);
    std::size_t first_entry_after(std::uint64_t sequence);
    std::uint64_t sequence_of(std::size_t entry);

    Store& store;
    History& history;
    std::unique_ptr<Database> (*connect)();
    PublishSettings settings;
    std::string directory;
    std::unique_ptr<PublishChannel> channel;
    std::thread worker;

    std::unordered_map<std::uint64_t, std::uint64_t, MacHash> dirty;  // MAC key -> when it last changed
    bool feeding = false;
    std::uint32_t feed_next = 0;     // the next record of the full sync
    std::uint32_t feed_started = 0;  // when it began
    std::uint64_t handed_sequence = 0;
    std::size_t event_cursor = 0;     // the history entry after the last handed event
    std::uint64_t recovery_until = 0; // handed events up to it name computers to hand again
    bool handed_since_mark = false;
    std::uint64_t last_mark_ms = 0;
};

void Publisher::Impl::start(const std::string& token) {
    channel = std::make_unique<PublishChannel>();
    worker = std::thread([ch = channel.get(), db = connect ? connect() : nullptr, s = settings, d = directory,
                          token]() mutable {
        PublishWorker(*ch, std::move(db), std::move(s), std::move(d), token).run();
    });
}

void Publisher::Impl::stop() {
    if (running()) {
        {
            std::lock_guard<std::mutex> lock(channel->mutex);
            channel->stop = true;
        }
        channel->changed.notify_all();
        worker.join();
    }
    channel.reset();
    dirty.clear();
    feeding = false;
    handed_sequence = 0;
    event_cursor = 0;
    recovery_until = 0;
    handed_since_mark = false;
}

// After a restart: the events after the watermark go again, and name the
// computers to publish again; so do the computers that reported since its
// time (less a margin).
void Publisher::Impl::recover(const Watermark& w) {
    handed_sequence = std::min(w.mark.sequence, last_sequence());
    recovery_until = last_sequence();
    const std::uint32_t since = w.mark.time > recovery_margin_seconds ? w.mark.time - recovery_margin_seconds : 0;
    for (std::uint32_t i = 0; i < store.record_count(); ++i)
        if (store.holds_computer(i) && store.record(i).last_update() >= since) note(store.record(i).mac(), 0);
}

PublishedComputer Publisher::Impl::copy_of(const std::uint8_t* mac) const {
    PublishedComputer c;
    std::copy_n(mac, 6, c.mac.begin());
    c.snapshot = take_snapshot(store, mac);
    if (c.snapshot.present) c.first_seen = history.first_seen(mac).value_or(0);
    return c;
}

void Publisher::Impl::push(std::vector<PublishItem>& items) {
    if (items.empty()) return;
    {
        std::lock_guard<std::mutex> lock(channel->mutex);
        for (PublishItem& item : items) {
            channel->rows += item.rows();
            channel->in_flight += item.units();
            channel->items.push_back(std::move(item));
        }
    }
    channel->changed.notify_one();
    items.clear();
}

void Publisher::Impl::start_feed(std::uint32_t now, std::vector<PublishItem>& out) {
    PublishItem begin;
    begin.kind = PublishItem::Kind::full_sync_begin;
    begin.token = new_token();
    out.push_back(std::move(begin));
    feeding = true;
    feed_next = 0;
    feed_started = now;
    // Every event goes again too; the database keeps one of each.
    handed_sequence = 0;
    event_cursor = 0;
    recovery_until = 0;
}

void Publisher::Impl::hand_feed(Clock::time_point until, std::size_t& room_left, std::vector<PublishItem>& out) {
    for (std::uint32_t n = 0; feeding && feed_next < store.record_count() && room_left > 0; ++n) {
        if (n % 16 == 15 && Clock::now() >= until) return;
        const std::uint32_t i = feed_next++;
        if (!store.holds_computer(i)) continue;
        PublishItem item;
        item.computer = copy_of(store.record(i).mac());
        room_left -= std::min(room_left, item.rows());
        out.push_back(std::move(item));
    }
    if (!feeding || feed_next < store.record_count() || !events_handed()) return;
    PublishItem end;
    end.kind = PublishItem::Kind::full_sync_end;
    end.mark = {handed_sequence, feed_started};
    out.push_back(std::move(end));
    feeding = false;
}

std::uint64_t Publisher::Impl::sequence_of(std::size_t entry) {
    std::vector<ChangeEvent> one;
    history.read({static_cast<std::uint32_t>(entry)}, one);
    return one.empty() ? 0 : one[0].sequence;
}

// The first history entry whose sequence is above `sequence`: the cursor
// when it still is (the usual case), else found again (a purge renumbered
// the entries).
std::size_t Publisher::Impl::first_entry_after(std::uint64_t sequence) {
    const std::size_t size = history.size();
    const bool before_ok = event_cursor == 0 || (event_cursor <= size && sequence_of(event_cursor - 1) <= sequence);
    const bool at_ok = event_cursor >= size || sequence_of(event_cursor) > sequence;
    if (before_ok && at_ok) return event_cursor;
    std::size_t lo = 0, hi = size;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (sequence_of(mid) <= sequence)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void Publisher::Impl::hand_events(Clock::time_point until, std::size_t& room_left, std::vector<PublishItem>& out) {
    while (!events_handed() && room_left > 0 && Clock::now() < until) {
        event_cursor = first_entry_after(handed_sequence);
        const std::size_t n = std::min(events_per_item, history.size() - event_cursor);
        if (n == 0) {
            // Past the last entry: the events left unhanded could not be read.
            handed_sequence = last_sequence();
            return;
        }
        std::vector<std::uint32_t> entries(n);
        for (std::size_t k = 0; k < n; ++k) entries[k] = static_cast<std::uint32_t>(event_cursor + k);
        PublishItem item;
        item.kind = PublishItem::Kind::events;
        history.read(entries, item.events);
        event_cursor += n;
        const std::uint64_t floor = handed_sequence;
        item.events.erase(std::remove_if(item.events.begin(), item.events.end(),
                                         [floor](const ChangeEvent& e) { return e.sequence <= floor; }),
                          item.events.end());
        if (item.events.empty()) continue;
        handed_sequence = item.events.back().sequence;
        for (const ChangeEvent& e : item.events)
            if (e.sequence <= recovery_until && !mac_is_zero(e.mac.data())) note(e.mac.data(), 0);
        room_left -= std::min(room_left, item.rows());
        out.push_back(std::move(item));
    }
}

void Publisher::Impl::hand_dirty(Clock::time_point until, std::size_t& room_left, std::vector<PublishItem>& out) {
    const std::uint64_t now = steady_ms();
    std::uint32_t n = 0;
    for (auto it = dirty.begin(); it != dirty.end() && room_left > 0;) {
        if (++n % 16 == 0 && Clock::now() >= until) return;
        if (it->second + quiet_ms > now) {
            ++it;
            continue;
        }
        Mac mac{};
        for (int b = 0; b < 6; ++b) mac[b] = static_cast<std::uint8_t>(it->first >> (8 * b));
        PublishItem item;
        item.computer = copy_of(mac.data());
        room_left -= std::min(room_left, item.rows());
        out.push_back(std::move(item));
        it = dirty.erase(it);
    }
}

// ------------------------------------------------------------ Publisher

Publisher::Publisher(Store& store, History& history, std::unique_ptr<Database> (*connect)())
    : impl_(std::make_unique<Impl>(store, history, connect)) {
    store.add_listener(impl_.get());
}

Publisher::~Publisher() {
    impl_->stop();
    impl_->store.remove_listener(impl_.get());
}

void Publisher::configure(const PublishSettings& settings, const std::string& working_directory) {
    Impl& p = *impl_;
    p.stop();
    p.settings = settings;
    p.directory = working_directory;
    if (!settings.enabled || settings.connection_string.empty()) return;
    const std::optional<Watermark> w = read_watermark(working_directory);
    p.start(w ? w->token : std::string());
    // Without the history nothing tells what changed while the server was
    // down: everything goes again.
    if (w && p.history.is_open())
        p.recover(*w);
    else
        p.channel->full_sync_wanted = true;
}

void Publisher::tick(std::uint32_t now) {
    Impl& p = *impl_;
    if (!p.running()) return;
    std::vector<PublishItem> out;
    if (p.channel->full_sync_wanted.exchange(false)) p.start_feed(now, out);
    const auto until = Clock::now() + tick_budget;
    std::size_t room_left = p.room();
    p.hand_events(until, room_left, out);
    p.hand_feed(until, room_left, out);
    p.hand_dirty(until, room_left, out);
    if (!out.empty()) p.handed_since_mark = true;
    const std::uint64_t now_ms = steady_ms();
    if (p.handed_since_mark && !p.feeding && p.dirty.empty() && p.events_handed() &&
        now_ms >= p.last_mark_ms + checkpoint_every_ms) {
        PublishItem mark;
        mark.kind = PublishItem::Kind::checkpoint;
        mark.mark = {p.handed_sequence, now};
        out.push_back(std::move(mark));
        p.handed_since_mark = false;
        p.last_mark_ms = now_ms;
    }
    p.push(out);
}

PublishStatus Publisher::status() const {
    const Impl& p = *impl_;
    PublishStatus s;
    if (!p.running()) return s;
    s.enabled = true;
    s.connected = p.channel->connected;
    s.awaiting = p.dirty.size() + p.channel->in_flight + (p.last_sequence() - std::min(p.handed_sequence, p.last_sequence()));
    if (p.feeding) s.awaiting += p.store.record_count() - std::min(p.feed_next, p.store.record_count());
    return s;
}

std::string Publisher::take_status_text() {
    Impl& p = *impl_;
    if (!p.channel) return {};
    std::lock_guard<std::mutex> lock(p.channel->text_mutex);
    std::string text;
    text.swap(p.channel->status_text);
    return text;
}

std::string test_connection(Database& database, const std::string& connection_string) {
    const bool ok = database.connect(connection_string) && make_schema(database);
    const std::string error = ok ? std::string() : database.last_error();
    database.disconnect();
    return error;
}

}  // namespace tally
