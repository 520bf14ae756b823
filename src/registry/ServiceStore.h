// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"
#include "registry/ServiceFields.h"
#include "registry/ServiceFileWatch.h"
#include "registry/ServiceRecord.h"
#include "registry/ServiceWriter.h"

namespace vantor::app {
class Poster;
}

namespace vantor::registry {

class ServiceDocument;

// The service list: service.xml held as one document for the life of the
// process. The operator's changes (insert, update, delete, extra fields, run
// state) are written back to the file before the operation returns. Check
// results change the document and reach the file through a writer thread:
// the latest whole document, at most about once per result interval while
// results keep coming, at once when none was written for that long, and at
// the latest when the store closes. A result never waits for the writer
// (see ServiceDocument). The file is replaced atomically and is readable by
// its owner only. A change whose save failed stays in the document and is
// written with the next save. The store shows nothing itself: failures come
// back as results, or (for the writer's) to the handler. Owner thread only,
// but for the writer.
class ServiceStore final {
public:
    // Told on the writer's thread when a write of results failed.
    using WriteFailedHandler = std::function<void(const std::string& error)>;

    // The exact text of a new, empty service file.
    static constexpr std::string_view kTemplate =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>"
        "<!DOCTYPE service><serviceList></serviceList>";

    explicit ServiceStore(std::string filePath);
    // Stops the writer; what it had not written yet is not written (close
    // the store to write it).
    ~ServiceStore();
    ServiceStore(const ServiceStore&) = delete;
    ServiceStore& operator=(const ServiceStore&) = delete;

    const std::string& filePath() const { return m_filePath; }
    bool isActive() const;

    bool ServiceFileExists() const;
    // active: load the file (never writes to it; a file that cannot be read
    // or parsed is left as it is) and start the writer. inactive: stop the
    // writer, write unsaved changes, then unload.
    Status OpenServiceFile(bool active);
    void setWriteFailedHandler(WriteFailedHandler handler);
    // How long the writer lets results gather between two writes: this for
    // each 10,000 records (a list of 100,000 is written every ten of them),
    // so that a large list is not written whole several times a minute.
    void setResultWriteInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds resultWriteInterval() const;
    // Where results held back while the writer wrote are applied, at the
    // next turn of the owner thread. Without one they are applied with the
    // next change, result, flush or settle(). The owner outlives the
    // writer: close the store (or destroy it) before the owner goes.
    void setOwner(app::Poster* owner) { m_owner = owner; }
    // Writes whatever is not on disk yet, now, on the calling thread.
    Status flush();
    // Applies the results held back, waiting for a write under way if need
    // be: for a view about to show every record's result.
    void settle() const;

    // Changes made to the file by someone else (an operator's editor) are
    // never written over. Before the store writes, it looks whether the file
    // changed since it last read or wrote it; if so, it takes that version
    // in (records added, changed or removed by hand take effect; the results
    // it holds go on for the records still there), tells onReloaded, and
    // then writes. The writer thread does not take it in itself: it tells
    // onChangedOnDisk (on its thread) and writes nothing until the owner
    // calls TakeChangesOnDisk.
    std::function<void()> onReloaded;
    void setChangedOnDiskHandler(std::function<void()> handler) {
        m_watch.setChangedHandler(std::move(handler));
    }
    Status TakeChangesOnDisk();
    // Takes the file in as it is now (SIGHUP), and writes the results held.
    Status reloadNow();
    // Writes the template to the file, replacing what is there.
    Status CreateServiceFile();

    // Position among the children of serviceList of the last record with
    // this key, or -1.
    int FindService(std::string_view key) const;

    // The changes by key change the last record with that key; a key that
    // is not there changes nothing and succeeds.
    // An insert whose save fails is taken back: the record is in the file
    // and in memory, or in neither.
    Status InsertService(const ServiceFields& fields);
    // With extra fields, the record and its fields are saved in one write.
    Status InsertURLService(const ServiceFields& fields, const UrlRequestFields& request,
                            const std::vector<ExtraField>* extraFields = nullptr);
    // A change whose save fails is taken back.
    Status UpdateService(std::string_view oldKey, const ServiceFields& fields);
    // With extra fields, they replace the record's in the same write.
    Status UpdateURLService(std::string_view oldKey, const ServiceFields& fields,
                            const UrlRequestFields& request,
                            const std::vector<ExtraField>* extraFields = nullptr);
    // Replaces the extra request fields of the record with this key.
    Status ReplaceExtraFields(std::string_view key, const std::vector<ExtraField>& fields);
    Status SetServiceRunState(std::string_view key, std::string_view state);
    // Never waits on the disk nor on the writer: the writer takes the change
    // to the file.
    Status SetServiceResult(std::string_view key, std::string_view status);
    // Whether a record was there to delete; the caller tells the operator
    // "Cannot find this record in xml file." when none was.
    Expected<bool> DeleteService(std::string_view key);

    // The records in document order.
    std::vector<ServiceRecord> records() const;
    // Visits the records in document order without building a list; the
    // visitor must not change the store.
    void forEachRecord(const std::function<void(const ServiceRecord&)>& visit) const;
    std::size_t recordCount() const;
    // Moves with every change to the records but their results (see
    // ServiceDocument::edits): what was read of them holds while it stays.
    std::uint64_t editCount() const;
    // The last record with this key.
    std::optional<ServiceRecord> findRecord(std::string_view key) const;

private:
    // Writes the document as it is now, on the owner thread, unless the file
    // has it already; see the class comment for a file someone else changed.
    Status save();
    // One write: true when the file holds the document now, false when
    // someone else's version is to be taken in first (the owner told, when
    // the writer found it).
    Expected<bool> write(bool onOwner);
    // Makes an edit on the list as the operator left it (edit: false when
    // there was nothing to change) and saves it; a version of someone
    // else's that turns up while it is written is taken in and the edit
    // made again on it. undo takes the edit back after a failed save.
    Status applyAndSave(const std::function<bool()>& edit, const std::function<void()>& undo);
    Status requireActive() const;
    Status takeOperatorsVersion();
    // Takes the operator's version in when the file changed on disk.
    Status takeChangesFirst();
    Status insertRecord(ServiceFields fields, bool withRequest, bool withExtras);
    Status updateRecord(std::string_view oldKey, const ServiceFields& fields, bool withRequest,
                        bool withExtras);
    // Asks the owner thread to apply the results held back (writer thread).
    void askOwnerToApplyHeld();
    void applyHeldResults();
    void startWriter();
    // The writer's interval for the list's size now.
    void followSize();

    static constexpr std::size_t kRecordsPerInterval = 10000;
    // Rounds of taking someone's version in and writing again, at most.
    static constexpr int kAttempts = 5;
    static constexpr const char* kKeepsChanging =
        "service.xml kept changing on disk while it was written";

    std::string m_filePath;
    std::unique_ptr<ServiceDocument> m_doc;
    ServiceFileWatch m_watch;
    // One write of the file at a time, with the look at the file before it.
    std::mutex m_fileMutex;
    // The version on disk that could not be read, until it changes.
    std::optional<app::FileStamp> m_unreadable;
    app::Poster* m_owner = nullptr;
    std::chrono::milliseconds m_baseInterval{1000};
    // Closures posted to the owner do nothing once the store is gone.
    std::shared_ptr<ServiceStore*> m_alive;
    ServiceWriter m_writer;  // last: its thread ends before the rest goes
};

}  // namespace vantor::registry
