#include "logging/uApplicationLogger.h"

#include <algorithm>
#include <cstdlib>
#include <pugixml.hpp>
#include <utility>

#include "logging/LogConvert.h"
#include "logging/LogFile.h"
#include "logging/uFileLogger.h"
#include "logging/uMemoryLogger.h"
#include "logging/uWindowsEventLogger.h"
#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"
#include "support/Global_Computer.h"
#include "support/Global_File.h"
#include "support/ProgramFiles.h"
#include "support/WholeFile.h"

namespace lumo {

// ---------------------------------------------------------------------------
// TAppLoggerThread

TAppLoggerThread::TAppLoggerThread() : thread_([this] { Execute(); }) {}

TAppLoggerThread::~TAppLoggerThread() { Stop(); }

void TAppLoggerThread::SetLogger(const TApplicationLogger* logger) {
    logger_.store(logger, std::memory_order_release);
}

void TAppLoggerThread::PostRecord(std::string text, std::uint8_t level, std::int32_t specific) {
    LogRecord record{level, specific, std::move(text)};
    bool wasEmpty;
    {
        std::lock_guard lock(queueMutex_);
        wasEmpty = queue_.empty();
        queue_.push_back(std::move(record));
    }
    // The thread only waits on an empty queue, so only the first record of a
    // burst needs to wake it.
    if (wasEmpty) wake_.notify_one();
}

void TAppLoggerThread::Stop(std::chrono::milliseconds drainLimit) {
    {
        std::lock_guard lock(queueMutex_);
        if (!stop_) {
            stop_ = true;
            drainDeadline_ = std::chrono::steady_clock::now() + drainLimit;
        }
    }
    wake_.notify_one();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::string TAppLoggerThread::LastError() const {
    std::lock_guard lock(errorMutex_);
    return lastError_;
}

bool TAppLoggerThread::StopRequested() const {
    std::lock_guard lock(queueMutex_);
    return stop_;
}

std::size_t TAppLoggerThread::QueuedCount() const {
    std::lock_guard lock(queueMutex_);
    return queue_.size();
}

std::size_t TAppLoggerThread::DroppedCount() const {
    std::lock_guard lock(queueMutex_);
    return dropped_;
}

void TAppLoggerThread::SetLastError(const char* step, const std::string& className,
                                    const std::string& message) {
    std::string text = "TAppLoggerThread Exception in Execute.";
    text += step;
    text += "(" + className + "):" + message;
    std::lock_guard lock(errorMutex_);
    lastError_ = std::move(text);
}

void TAppLoggerThread::Deliver(const LogRecord& record) {
    const TApplicationLogger* logger = logger_.load(std::memory_order_acquire);
    if (!logger) return;
    const int count = logger->LoggerCount();
    for (int index = 0; index < count; ++index) {
        try {
            logger->LoggerAt(index)->Log(record.text, record.level, record.specific);
        } catch (const std::exception& e) {
            // This destination loses this record; the others and the records
            // that follow go on.
            SetLastError("F", ExceptionClassName(e), e.what());
        } catch (...) {
            SetLastError("F", "Exception", "unknown error");
        }
    }
}

void TAppLoggerThread::Execute() {
    std::deque<LogRecord> dropped;  // the backlog let go at stop, freed outside the lock
    while (true) {
        const char* step = "A";
        try {
            LogRecord record;
            {
                std::unique_lock lock(queueMutex_);
                wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
                step = "C";
                if (queue_.empty()) return;  // stopped, nothing left
                if (stop_ && std::chrono::steady_clock::now() >= drainDeadline_) {
                    dropped_ += queue_.size();
                    dropped.swap(queue_);
                } else {
                    step = "E";
                    record = std::move(queue_.front());
                    queue_.pop_front();
                }
            }
            if (!dropped.empty()) return;
            step = "F";
            Deliver(record);
        } catch (const std::exception& e) {
            SetLastError(step, ExceptionClassName(e), e.what());
        } catch (...) {
            SetLastError(step, "Exception", "unknown error");
        }
    }
}

// ---------------------------------------------------------------------------
// The single instance

namespace {

// Set only while AppLogger() runs the constructor on this thread.
thread_local bool tCreating = false;

// The single instance: published through an atomic pointer so that log calls
// read it without a lock; creation and shutdown take gCreationMutex only
// around the bookkeeping, never around the construction itself.
std::mutex gCreationMutex;
std::condition_variable gCreationDone;
bool gCreationRunning = false;
std::unique_ptr<TApplicationLogger> gOwned;
std::atomic<TApplicationLogger*> gInstance{nullptr};
bool gExitHandlerInstalled = false;

void ShutdownAtExit() { ShutdownAppLogger(); }

constexpr const char* kDefaultFormat = "yyyy-mm-dd hh:nn:ss.zzz";

pugi::xml_node ChildElement(const pugi::xml_node& parent, const std::string& name) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && name == child.name()) return child;
    return {};
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// A configuration takes a few kilobytes; anything near this is not one.
constexpr std::size_t kMaxConfigurationBytes = 4 << 20;

// The whole file; anything but a regular file (a pipe would block for ever,
// a device never end) is refused, and so is a file too large to be one.
std::string ReadConfigurationFile(const std::string& path) {
    WholeFile file = ReadWholeFile(path, ReadableFiles::RegularOnly, kMaxConfigurationBytes);
    if (!file.Ok()) RaiseInOutError(file.error, path);
    return std::move(file.bytes);
}

// Where a broken file broke, as an editor shows it.
std::string XmlErrorText(const std::string& fileName, const std::string& text,
                         const pugi::xml_parse_result& result) {
    std::size_t line = 1, column = 1;
    const auto end = std::min<std::size_t>(
        static_cast<std::size_t>(std::max<std::ptrdiff_t>(result.offset, 0)), text.size());
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "Fichier XML invalide \"" + fileName + "\" : " + result.description() + " (ligne " +
           std::to_string(line) + ", colonne " + std::to_string(column) + ")";
}

}  // namespace

TApplicationLogger::TApplicationLogger() {
    if (!tCreating)
        throw Exception(ErrorClass::Exception,
                        "Vous devez accéder à la classe TApplicationLogger par le biais de la "
                        "fonction AppLogger");
    thread_ = std::make_unique<TAppLoggerThread>();
    thread_->SetLogger(this);
    // Beside the program as ever; an installed program's elsewhere, its
    // relative log names then taken from a folder it may write in.
    const LoggerConfiguration found = FindLoggerConfiguration();
    const bool ownFolder = found.logFolder == ProgramFolder();
    if (!ownFolder && found.logFolder == StateFolder()) MakeStateFolder();
    SetLogFolder(ownFolder ? std::string() : found.logFolder);
    LoadConfiguration(ownFolder ? std::string("./AppLogger.xml") : found.file);
}

TApplicationLogger::~TApplicationLogger() {
    if (thread_) thread_->Stop();
    thread_.reset();
    ClearLoggers();
}

void TApplicationLogger::Log(const std::string& text, std::uint8_t level, std::int32_t specific) {
    thread_->PostRecord(text, level, specific);
}

void TApplicationLogger::AddLogger(std::unique_ptr<TLogger> logger) {
    if (!logger) return;
    for (const auto& existing : loggers_)
        if (existing.get() == logger.get()) {
            // Already owned here: keep the one owner.
            (void)logger.release();
            return;
        }
    loggers_.push_back(std::move(logger));
}

int TApplicationLogger::LoggerCount() const { return static_cast<int>(loggers_.size()); }

TLogger* TApplicationLogger::LoggerAt(int index) const {
    if (index < 0 || index >= LoggerCount()) return nullptr;
    return loggers_[static_cast<std::size_t>(index)].get();
}

void TApplicationLogger::ClearLoggers() {
    // In list order, as configured.
    for (auto& logger : loggers_) logger.reset();
    loggers_.clear();
}

bool TApplicationLogger::LoadConfiguration(const std::string& fileName) {
    try {
        ClearLoggers();
        const std::string path = GlobalFile().GetAbsoluteFileName(fileName, ProgramFolder());
        if (!LogFileExists(path)) return false;

        const std::string text = ReadConfigurationFile(path);
        pugi::xml_document document;
        const pugi::xml_parse_result result = document.load_buffer(text.data(), text.size());
        // A file without any element is an empty configuration.
        if (result.status == pugi::status_no_document_element) return true;
        if (!result) throw Exception(ErrorClass::EXMLDocError, XmlErrorText(path, text, result));
        const pugi::xml_node root = document.document_element();
        if (!root) return true;

        version_ = root.attribute("Version").value();
        pugi::xml_node station = ChildElement(root, StationName(true, true));
        if (!station) station = ChildElement(root, StationName(false, false));
        const pugi::xml_node allStations = ChildElement(root, "AllStations");

        if (station && LoadApplicationNode(station)) return true;
        if (allStations) LoadApplicationNode(allStations);
        return true;
    } catch (const std::exception& e) {
        throw Exception(ErrorClass::Exception, std::string("TApplicationLogger : ") + e.what());
    }
}

bool TApplicationLogger::LoadApplicationNode(const pugi::xml_node& station) {
    const std::string title = ApplicationTitle();
    std::string key = UpperAscii(ProgramKey());
    if (!title.empty() && UpperAscii(key.substr(0, title.size())) == UpperAscii(title))
        key = UpperAscii(title);

    pugi::xml_node section;
    for (pugi::xml_node child = station.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || std::string_view(child.name()) != "Application")
            continue;
        const pugi::xml_attribute exeName = child.attribute("ExeName");
        if (exeName && key == exeName.value()) {
            section = child;
            break;
        }
    }
    // Configurations up to 1.1 named the section after the application title.
    if (!section && version_ <= "1.1" && !title.empty()) section = ChildElement(station, title);
    if (!section) section = ChildElement(station, "AllApplications");
    if (!section) return false;

    for (pugi::xml_node entry = section.first_child(); entry; entry = entry.next_sibling())
        if (entry.type() == pugi::node_element) CreateLoggerFromNode(entry);
    return true;
}

void TApplicationLogger::CreateLoggerFromNode(const pugi::xml_node& node) {
    const std::string className = node.attribute("class").value();
    const auto niveauMax =
        ConfigInteger<std::uint8_t>("Attribut NiveauMax", node.attribute("NiveauMax").value());
    const auto logSpecifique = ConfigInteger<std::int32_t>("Attribut LogSpecifique",
                                                           node.attribute("LogSpecifique").value());
    const pugi::xml_attribute insertTimeAttr = node.attribute("InsertTime");
    const bool insertTime = insertTimeAttr ? StrToBool(insertTimeAttr.value()) : true;
    const pugi::xml_attribute insertNiveauAttr = node.attribute("InsertNiveauLog");
    const bool insertNiveauLog = insertNiveauAttr ? StrToBool(insertNiveauAttr.value()) : true;
    const pugi::xml_attribute formatAttr = node.attribute("FormatDateTime");
    const std::string format = formatAttr ? formatAttr.value() : kDefaultFormat;

    TLoggerParams params;
    // Version 1.0 files also wrote these as attributes of the entry.
    if (version_ == "1.0") {
        if (className == "TFileLogger" || className == "TMemoryLogger")
            if (const auto a = node.attribute("FileName"))
                params.push_back(std::string("FileName=") + a.value());
        if (className == "TMemoryLogger")
            if (const auto a = node.attribute("MaxLigne"))
                params.push_back(std::string("MaxLigne=") + a.value());
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element)
            params.push_back(std::string(child.name()) + "=" + child.text().get());

    std::unique_ptr<TLogger> logger;
    if (className == "TMemoryLogger")
        logger = std::make_unique<TMemoryLogger>(niveauMax, logSpecifique, params, insertTime,
                                                 format, insertNiveauLog);
    else if (className == "TFileLogger")
        logger = std::make_unique<TFileLogger>(niveauMax, logSpecifique, params, insertTime, format,
                                               insertNiveauLog);
    else if (className == "TWindowsEventLogger")
        logger = std::make_unique<TWindowsEventLogger>(niveauMax, logSpecifique, params, insertTime,
                                                       format, insertNiveauLog);
    else if (version_ <= "1.2")
        throw Exception(ErrorClass::Exception,
                        "TApplicationLogger : Configuration inattendue (" + className + ")");
    else
        return;  // a class of a newer configuration: skipped
    AddLogger(std::move(logger));
}

TApplicationLogger& AppLogger() {
    if (TApplicationLogger* instance = gInstance.load(std::memory_order_acquire)) return *instance;

    {
        std::unique_lock lock(gCreationMutex);
        gCreationDone.wait(lock, [] { return !gCreationRunning; });
        if (gOwned) return *gOwned;
        gCreationRunning = true;
    }
    // Built outside the lock: the destinations take locks of their own.
    std::unique_ptr<TApplicationLogger> created;
    std::exception_ptr failure;
    tCreating = true;
    try {
        created = std::make_unique<TApplicationLogger>();
    } catch (...) {
        failure = std::current_exception();
    }
    tCreating = false;

    TApplicationLogger* instance = created.get();
    bool installExitHandler = false;
    {
        std::lock_guard lock(gCreationMutex);
        gCreationRunning = false;
        if (instance) {
            gOwned = std::move(created);
            gInstance.store(instance, std::memory_order_release);
            installExitHandler = !std::exchange(gExitHandlerInstalled, true);
        }
    }
    gCreationDone.notify_all();
    if (failure) std::rethrow_exception(failure);
    // Registered after the first creation, so that at exit it runs before the
    // objects the logger used were themselves destroyed.
    if (installExitHandler) {
        // What the thread will use at exit is made to exist before the handler.
        (void)lumo::FormatDateTime(kDefaultFormat, Now());
        std::atexit(ShutdownAtExit);
    }
    return *instance;
}

void ShutdownAppLogger() {
    std::unique_ptr<TApplicationLogger> ending;
    {
        std::unique_lock lock(gCreationMutex);
        gCreationDone.wait(lock, [] { return !gCreationRunning; });
        ending = std::move(gOwned);
        gInstance.store(nullptr, std::memory_order_release);
    }
    ending.reset();  // outside the lock: stopping waits for the thread
}

}  // namespace lumo
