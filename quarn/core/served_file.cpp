// Plain files, read directly or through a file-access thread of their own that opens,
// reads, seeks and closes the file on command and, with read-ahead, keeps up to 128 KB
// ahead of the reader while it is idle.

#include "quarn/core/file_internal.h"
#include "quarn/core/file_os.h"
#include "quarn/core/files.h"

namespace {

constexpr uint32_t kReadAheadIdleMs = 100;

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

// The new position of a seek, clamped into the file: a position past the end would make
// the next read's "bytes left" wrap.
uint32_t SeekTarget(uint32_t position, uint32_t size, int32_t offset, int origin)
{
    int64_t target = offset;
    if (origin == 1) target += position;
    else if (origin == 2) target += size;
    if (target < 0) target = 0;
    if (target > int64_t(size)) target = size;
    return static_cast<uint32_t>(target);
}

// Reads as much of the file as fills the cache, from just after what it holds.
void FillReadAheadCache(ServedFile* f)
{
    if (!f->threadFile || f->cachedBytes >= uint32_t(kReadAheadCacheBytes)) return;
    uint32_t got = 0;
    if (FileOsSeek(f->threadFile, f->cachePosition + f->cachedBytes) == 0)
        FileOsRead(f->threadFile, f->cache + f->cachedBytes, kReadAheadCacheBytes - f->cachedBytes, &got);
    f->cachedBytes += got;
}

void ServeRead(ServedFile* f)
{
    uint8_t* dst = f->requestBuffer;
    uint32_t position = f->requestPosition;
    uint32_t length = f->requestLength;
    uint32_t delivered = 0;
    if (f->cache && position == f->cachePosition && f->cachedBytes > 0) {
        const uint32_t n = Min(length, f->cachedBytes);
        CopyBytes(dst, f->cache, n);
        dst += n;
        position += n;
        length -= n;
        delivered += n;
        f->cachePosition += n;
        f->cachedBytes -= n;
        f->bytesFromCache += n;
        MoveBytes(f->cache, f->cache + n, f->cachedBytes);
    }
    if (length > 0) {
        uint32_t got = 0;
        if (f->threadFile && FileOsSeek(f->threadFile, position) == 0) FileOsRead(f->threadFile, dst, length, &got);
        delivered += got;
        if (f->cache) {
            f->cachePosition = position + got;
            f->cachedBytes = 0;
        }
    }
    f->requestDelivered = delivered;
}

uint32_t FileAccessThread(void* argument)
{
    ServedFile* f = static_cast<ServedFile*>(argument);
    for (;;) {
        if (!f->cache) {
            FileOsWaitEvent(f->commandEvent, kFileOsWaitForever);
        } else if (!FileOsWaitEvent(f->commandEvent, kReadAheadIdleMs)) {
            FillReadAheadCache(f);
            continue;
        }
        FileOsResetEvent(f->commandEvent);
        FileOsResetEvent(f->doneEvent);
        switch (f->command) {
        case kServedOpen:
            f->threadFile = FileOsOpen(f->path, 0);
            if (!f->threadFile) {
                f->openFailed = 1;
                f->threadEnded = 1;
                FileOsSetEvent(f->doneEvent);
                return 0;
            }
            break;
        case kServedClose:
            if (f->threadFile) FileOsClose(f->threadFile);
            f->threadFile = nullptr;
            break;
        case kServedRead: ServeRead(f); break;
        case kServedSeek:
            if (f->threadFile) FileOsSeek(f->threadFile, f->seekTarget);
            if (f->cache) {
                f->cachePosition = f->seekTarget;
                f->cachedBytes = 0;
            }
            break;
        case kServedQuit:
            if (f->threadFile) FileOsClose(f->threadFile);
            f->threadFile = nullptr;
            f->threadEnded = 1;
            FileOsSetEvent(f->doneEvent);
            return 0;
        default: break;
        }
        FileOsSetEvent(f->doneEvent);
    }
}

// Hands a command to the thread once it has finished the previous one. The command's
// fields are filled by fill while done is still signalled, so the thread, which reads them
// only after the command event, never sees them half written.
template <class Fill>
void HandCommand(ServedFile* f, ServedFileCommand command, Fill fill)
{
    FileOsWaitEvent(f->doneEvent, kFileOsWaitForever);
    f->command = command;
    f->filePointerKnown = 0;  // the thread moves it
    fill();
    FileOsResetEvent(f->doneEvent);
    FileOsSetEvent(f->commandEvent);
}

void WaitForThreadEnd(ServedFile* f)
{
    while (FileOsIsThreadActive(f->thread)) FileOsSleep(0);
}

// Frees what a served record holds besides its thread.
void FreeServedParts(ServedFile* f)
{
    FreeTrackedMemory(f->cache);
    FileOsCloseEvent(f->commandEvent);
    FileOsCloseEvent(f->doneEvent);
    FreeTrackedMemory(f);
}

ServedFile* OpenWithThread(ServedFile* f, const wchar_t* path)
{
    if (CountWideUnits(path) >= kFilePathUnits) {
        FreeTrackedMemory(f);
        RefuseLongPath();
        return nullptr;
    }
    void* probe = FileOsOpen(path, 1);
    if (!probe) {
        FreeTrackedMemory(f);
        return nullptr;
    }
    f->size = FileOsSize(probe);
    FileOsClose(probe);
    if (f->readAhead) {
        f->cache = static_cast<uint8_t*>(AllocTrackedMemory(kReadAheadCacheBytes, "", 0));
        if (!f->cache) {
            FreeTrackedMemory(f);
            AppendLog(L"ファイル読み込みキャッシュ用メモリの確保に失敗しました\n");
            return nullptr;
        }
    }
    f->commandEvent = FileOsCreateEvent(0);
    f->doneEvent = FileOsCreateEvent(1);
    if (f->commandEvent && f->doneEvent) f->thread = FileOsStartThread(FileAccessThread, f, &f->threadId);
    if (!f->thread) {
        FreeServedParts(f);
        AppendLog(L"ファイルアクセス専用スレッドの作成に失敗しました\n");
        return nullptr;
    }
    HandCommand(f, kServedOpen, [&] { CopyWideString(f->path, path); });
    FileOsWaitEvent(f->doneEvent, kFileOsWaitForever);
    if (f->openFailed) {
        WaitForThreadEnd(f);
        FileOsCloseThread(f->thread);
        FreeServedParts(f);
        AppendLog(L"ファイルのオープンに失敗しました\n");
        return nullptr;
    }
    f->position = 0;
    f->endFlag = 0;
    return f;
}

}  // namespace

ServedFile* OpenServedFile(const wchar_t* path, int readAhead, int, int asynchronous)
{
    ServedFile* f = static_cast<ServedFile*>(AllocTrackedMemoryZeroed(sizeof(ServedFile), "", 0));
    if (!f) return nullptr;
    f->readAhead = readAhead ? 1 : 0;
    f->asynchronous = asynchronous ? 1 : 0;
    f->served = f->readAhead | f->asynchronous;
    if (f->served) return OpenWithThread(f, path);
    f->file = FileOsOpen(path, 1);
    if (!f->file) {
        FreeTrackedMemory(f);
        return nullptr;
    }
    f->size = FileOsSize(f->file);
    f->filePointerKnown = 1;
    return f;
}

int CloseServedFile(ServedFile* file)
{
    int result = 0;
    if (!file->served) {
        result = FileOsClose(file->file);
        FreeTrackedMemory(file);
        return result;
    }
    HandCommand(file, kServedQuit, [] {});
    FileOsWaitEvent(file->doneEvent, kFileOsWaitForever);
    WaitForThreadEnd(file);
    FileOsCloseThread(file->thread);
    FreeServedParts(file);
    return result;
}

int32_t TellServedFile(ServedFile* file) { return static_cast<int32_t>(file->position); }

int SeekServedFile(ServedFile* file, int32_t offset, int origin)
{
    const uint32_t target = SeekTarget(file->position, file->size, offset, origin);
    if (!file->served) {
        if (FileOsSeek(file->file, target) != 0) return -1;
        file->filePointer = target;
    } else {
        HandCommand(file, kServedSeek, [&] { file->seekTarget = target; });
    }
    file->position = target;
    file->endFlag = 0;
    return 0;
}

int32_t ReadServedFile(void* buffer, uint32_t elementSize, uint32_t count, ServedFile* file)
{
    if (elementSize == 0) return 0;
    if (file->position >= file->size) {
        file->endFlag = 1;
        return 0;
    }
    const uint32_t left = file->size - file->position;
    uint64_t n = count;
    if (uint64_t(elementSize) * count > left) n = left / elementSize;
    if (n > uint64_t(INT32_MAX)) n = INT32_MAX / elementSize;
    if (n == 0) {
        file->endFlag = 1;
        return 0;
    }
    const uint32_t bytes = static_cast<uint32_t>(n * elementSize);
    if (!file->served) {
        uint32_t got = 0;
        FileOsRead(file->file, buffer, bytes, &got);
        file->position += got;
        file->filePointer = file->position;
        return static_cast<int32_t>(got / elementSize);
    }
    HandCommand(file, kServedRead, [&] {
        file->requestBuffer = static_cast<uint8_t*>(buffer);
        file->requestPosition = file->position;
        file->requestLength = bytes;
        file->requestDelivered = 0;
    });
    if (file->asynchronous) {
        file->position += bytes;
        return static_cast<int32_t>(n);
    }
    FileOsWaitEvent(file->doneEvent, kFileOsWaitForever);
    file->position += file->requestDelivered;
    return static_cast<int32_t>(file->requestDelivered / elementSize);
}

int IsServedFileAtEnd(ServedFile* file) { return file->endFlag ? -1 : 0; }

int IsServedFileIdle(ServedFile* file)
{
    if (!file->served) return 1;
    return FileOsWaitEvent(file->doneEvent, 0);
}

uint32_t ReadServedFileAt(ServedFile* f, void* buffer, uint32_t position, uint32_t length)
{
    uint32_t got = 0;
    if (f->served && f->cache) {
        // The thread may be reading ahead: the read is its to do.
        HandCommand(f, kServedRead, [&] {
            f->requestBuffer = static_cast<uint8_t*>(buffer);
            f->requestPosition = position;
            f->requestLength = length;
            f->requestDelivered = 0;
        });
        FileOsWaitEvent(f->doneEvent, kFileOsWaitForever);
        got = f->requestDelivered;
    } else {
        // Without read-ahead an idle thread leaves its file alone until the next command,
        // which only this caller gives: the read needs no round trip to the thread.
        if (f->served) FileOsWaitEvent(f->doneEvent, kFileOsWaitForever);
        void* file = f->served ? f->threadFile : f->file;
        const bool there = f->filePointerKnown && f->filePointer == position;
        if (file && (there || FileOsSeek(file, position) == 0)) {
            FileOsRead(file, buffer, length, &got);
            f->filePointer = position + got;
            f->filePointerKnown = 1;
        } else {
            f->filePointerKnown = 0;
        }
    }
    f->position = position + got;
    f->endFlag = 0;
    return got;
}

void WaitForServedFile(ServedFile* file)
{
    if (file->served) FileOsWaitEvent(file->doneEvent, kFileOsWaitForever);
}
