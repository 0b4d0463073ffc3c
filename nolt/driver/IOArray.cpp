#include "nolt/driver/IOArray.h"

#include "porting/Log.h"
#include "porting/Shims.h"
#include "porting/SpiPort.h"
#include "nolt/driver/SpidevPort.h"

#include <concurrentqueue/concurrentqueue.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
const char* const TAG = "IO Array";

constexpr int kDefaultPwmDepth = 256;
constexpr int kQueueRoom = 1024;
constexpr uint32_t kIdleSleepMicros = 10000;
constexpr uint8_t kSpiMode = SPI_MODE_2; // clock idle high, data sampled on the first edge

// Prepared transfers to the SPI thread and completed ones back. Each has one producer, so the order of the
// slots is kept and a slot comes back in the order it was queued.
moodycamel::ConcurrentQueue<spi_ioc_transfer*> txQueue(kQueueRoom);
moodycamel::ConcurrentQueue<spi_ioc_transfer*> rxQueue(kQueueRoom);

std::atomic<bool> initialized{false};
bool running = false;
int block_size = 0;
int max_io = 0;
int scan_freq = 0;
int freq = 0;
int queue_size = 0;
int start = 0;
int end = 0;
int pwm_depth = kDefaultPwmDepth;
int pwm_counter = 0;

// Per slot, block_size bytes each.
std::vector<uint8_t> input_buffer;
std::vector<uint8_t> output_buffer;
std::vector<spi_ioc_transfer> buffer;
// Per slot, set by the SPI thread before it hands the slot back.
std::vector<uint8_t> transferFailed;

std::unique_ptr<std::atomic<uint8_t>[]> input_status;
std::unique_ptr<std::atomic<uint8_t>[]> output_status;
// Per frame position (byte * 8 + bit, in frame order).
std::unique_ptr<std::atomic<int>[]> pwm_status;

std::shared_ptr<SpiPort> port;
bool startSpiThread = true;
// SPI threads running, and the request that they end: at the process's end they must stop before the queues,
// buffers and port above are destroyed.
std::atomic<int> spiThreads{0};
std::atomic<bool> spiStopping{false};

void stopSpiThreads() {
    spiStopping.store(true);
    for (int wait = 0; wait < 200 && spiThreads.load() > 0; ++wait) vTaskDelay(kIdleSleepMicros / 10);
}

// SPI thread only.
int spi_fd = -1;
bool transmissionFailing = false;

bool isPowerOfTwo(int d) { return d > 0 && (d & (d - 1)) == 0; }

int outputByteOf(int line) { return block_size - 1 - line / 8; }

int slotOf(const spi_ioc_transfer* transfer) { return int(transfer - buffer.data()); }
}

int IOArray::initialize(int n, int scanFrequency, int buffer_ms, int requestedDepth, int, int, int, int) {
    if (initialized.load()) {
        LOGW(TAG, "already initialized\n");
        return 0;
    }
    if (n < 1 || scanFrequency < 1 || buffer_ms < 0) {
        LOGE(TAG, "no chain for %d lines at %d frames per second\n", n, scanFrequency);
        return 0;
    }
    start = end = 0;
    block_size = n / 8 + (n % 8 ? 1 : 0);
    max_io = block_size * 8;
    scan_freq = scanFrequency;
    freq = max_io * scan_freq;
    pwm_depth = kDefaultPwmDepth;
    const int64_t framesInFlight = int64_t(scan_freq) * buffer_ms;
    queue_size = framesInFlight < 2000 ? 2 : int(framesInFlight / 1000);

    input_buffer.assign(size_t(queue_size) * block_size, 0);
    output_buffer.assign(size_t(queue_size) * block_size, 0);
    buffer.assign(size_t(queue_size), spi_ioc_transfer{});
    transferFailed.assign(size_t(queue_size), 0);
    input_status = std::make_unique<std::atomic<uint8_t>[]>(size_t(block_size));
    output_status = std::make_unique<std::atomic<uint8_t>[]>(size_t(block_size));
    pwm_status = std::make_unique<std::atomic<int>[]>(size_t(max_io));
    for (int i = 0; i < block_size; ++i) {
        input_status[i].store(0);
        output_status[i].store(0);
    }
    for (int j = 0; j < max_io; ++j) pwm_status[j].store(-1);
    if (!port) port = std::make_shared<SpidevPort>();

    if (startSpiThread) {
        static const bool stopsAtExit = std::atexit(stopSpiThreads) == 0;
        (void)stopsAtExit;
        spiThreads.fetch_add(1);
        if (!xTaskCreatePinnedToCore(ioctl_tasks, "IO Array SPI", 4096, nullptr, 40, nullptr, 0)) {
            spiThreads.fetch_sub(1);
            LOGE(TAG, "cannot start the SPI thread\n");
        }
    }

    if (isPowerOfTwo(requestedDepth)) {
        pwm_depth = requestedDepth;
    } else {
        LOGW(TAG, "pwm depth must be a power of 2\n");
    }
    LOGI(TAG, "Initialized freq = %d, max_io = %d, queue = %d\n", freq, max_io, queue_size);
    initialized.store(true);
    return 1;
}

bool IOArray::ringFull() { return (end + 1) % queue_size == start; }

void IOArray::renderPwm(uint8_t* frame) {
    for (int j = 0; j < max_io; ++j) {
        const int duty = pwm_status[j].load(std::memory_order_relaxed);
        if (duty >= 0 && duty <= pwm_counter) frame[j / 8] &= uint8_t(~(1u << (j % 8)));
    }
}

bool IOArray::task_send() {
    if (!initialized.load() || ringFull()) return false;
    if (start == end && running) LOGW(TAG, "output queue is empty\n");

    spi_ioc_transfer& transfer = buffer[size_t(end)];
    uint8_t* out = &output_buffer[size_t(end) * block_size];
    uint8_t* in = &input_buffer[size_t(end) * block_size];
    transfer = spi_ioc_transfer{};
    transfer.tx_buf = uintptr_t(out);
    transfer.rx_buf = uintptr_t(in);
    transfer.len = uint32_t(block_size);
    transfer.speed_hz = uint32_t(freq);
    transfer.delay_usecs = 0;
    transfer.bits_per_word = 8;
    for (int i = 0; i < block_size; ++i) out[i] = output_status[i].load(std::memory_order_relaxed);
    renderPwm(out);
    txQueue.enqueue(&transfer);

    end = (end + 1) % queue_size;
    if (++pwm_counter >= pwm_depth) pwm_counter = 0;
    return true;
}

void IOArray::tasks() {
    if (!initialized.load()) return;
    while (task_send()) {}
    running = true;
}

int IOArray::has_data() {
    if (!initialized.load()) return 0;
    spi_ioc_transfer* transfer = nullptr;
    while (rxQueue.try_dequeue(transfer)) {
        const int slot = slotOf(transfer);
        start = (start + 1) % queue_size;
        if (transferFailed[size_t(slot)]) continue;
        const uint8_t* received = &input_buffer[size_t(slot) * block_size];
        bool changed = false;
        for (int i = 0; i < block_size; ++i) {
            if (input_status[i].exchange(received[i], std::memory_order_relaxed) != received[i]) changed = true;
        }
        return changed ? 2 : 1;
    }
    return 0;
}

int IOArray::get_bit(int i) {
    if (!initialized.load() || i < 0 || i >= max_io) return 0;
    return (input_status[i / 8].load(std::memory_order_relaxed) >> (i % 8)) & 1;
}

uint8_t IOArray::get_byte(int i) {
    if (!initialized.load() || i < 0 || i >= block_size) return 0;
    return input_status[i].load(std::memory_order_relaxed);
}

void IOArray::set_bit(int i, uint8_t v) {
    if (!initialized.load() || i < 0 || i >= max_io) return;
    const uint8_t mask = uint8_t(1u << (i % 8));
    std::atomic<uint8_t>& byte = output_status[outputByteOf(i)];
    if (v) {
        byte.fetch_or(mask, std::memory_order_relaxed);
    } else {
        byte.fetch_and(uint8_t(~mask), std::memory_order_relaxed);
    }
}

void IOArray::set_byte(int i, uint8_t v) {
    if (!initialized.load() || i < 0 || i >= block_size) return;
    output_status[block_size - 1 - i].store(v, std::memory_order_relaxed);
}

void IOArray::set_pwm(int i, int duty) {
    if (!initialized.load() || i < 0 || i >= max_io) return;
    pwm_status[outputByteOf(i) * 8 + i % 8].store(duty, std::memory_order_relaxed);
}

uint8_t IOArray::get_output_status(int i) {
    if (!initialized.load() || i < 0 || i >= block_size) return 0;
    return output_status[i].load(std::memory_order_relaxed);
}

void IOArray::set_pwm_depth(int d) {
    if (!isPowerOfTwo(d)) {
        LOGW(TAG, "pwm depth must be a power of 2\n");
        return;
    }
    pwm_depth = d;
}

int IOArray::get_max_pwm() { return pwm_depth; }

int IOArray::get_max_io() { return max_io; }

int IOArray::ms_to_tick(int ms) {
    const int64_t ticks = int64_t(ms) * scan_freq / 1000;
    if (ticks > INT_MAX) return INT_MAX;
    if (ticks < INT_MIN) return INT_MIN;
    return int(ticks);
}

bool IOArray::spi_open() {
    const std::string path = port->deviceFor(kDevice);
    if (path.empty()) {
        LOGW(TAG, "no device for %s; the panel is not scanned\n", kDevice);
        return false;
    }
    spi_fd = port->open(path.c_str());
    if (spi_fd < 0) {
        LOGE(TAG, "Open SPI error\n");
        return false;
    }
    uint8_t mode = kSpiMode;
    if (port->writeMode(spi_fd, mode) < 0) {
        LOGE(TAG, "SPI mode set error %s - %d %d\n", std::strerror(errno), errno, spi_fd);
    }
    if (port->readMode(spi_fd, mode) < 0) {
        LOGE(TAG, "SPI mode read set error %s - %d %d\n", std::strerror(errno), errno, spi_fd);
    }
    return true;
}

int IOArray::spi_step() {
    if (spi_fd < 0) return 0;
    spi_ioc_transfer* transfer = nullptr;
    if (!txQueue.try_dequeue(transfer)) return 0;
    const bool failed = port->message(spi_fd, *transfer) < 1;
    // One line per run of failures: a chain that stops answering would otherwise log every frame.
    if (failed && !transmissionFailing) LOGE(TAG, "Transmission error\n");
    transmissionFailing = failed;
    transferFailed[size_t(slotOf(transfer))] = failed;
    rxQueue.enqueue(transfer);
    return failed ? -1 : 1;
}

void IOArray::ioctl_tasks(void*) {
    if (spi_open()) {
        while (!spiStopping.load()) {
            // A failed transfer waits as long as an empty queue does, so a broken chain is retried at the
            // input thread's pace instead of spinning through the ring.
            if (spi_step() < 1) vTaskDelay(kIdleSleepMicros);
        }
    }
    spiThreads.fetch_sub(1);
}

void IOArray::deinitialize() {
    stopSpiThreads();
    spiStopping.store(false);
    initialized.store(false);
    spi_ioc_transfer* transfer = nullptr;
    while (txQueue.try_dequeue(transfer)) {}
    while (rxQueue.try_dequeue(transfer)) {}
    running = false;
    pwm_counter = 0;
    spi_fd = -1;
    transmissionFailing = false;
    port.reset();
    startSpiThread = true;
}

void IOArray::setPort(std::shared_ptr<SpiPort> spiPort) { port = std::move(spiPort); }

void IOArray::setSpiThread(bool start) { startSpiThread = start; }
