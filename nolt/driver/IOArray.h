#pragma once
// The input/output array: one chain of shift registers on the SPI device, clocked continuously. Every
// transfer shifts one output frame out and one input frame in, one bit per line. A ring of prepared
// transfers stays in flight (about buffer_ms ahead of the wire), so a late input thread never stalls the
// chain; software PWM is rendered into the output frames as they are prepared.
//
// Frame layout: input line i is bit i % 8 of received byte i / 8. Output line i is bit i % 8 of sent byte
// block_size - 1 - i / 8: lines 0 to 7 travel in the last byte of the frame.
//
// Threads: the input thread ("eventTasks") calls initialize, tasks, task_send and has_data, and owns the
// ring indices and the prepared frames. The "IO Array SPI" thread only takes prepared transfers, performs
// them and hands them back; a slot's buffers are its own from the moment the slot is queued until it comes
// back. set_bit, set_pwm and the readers may be called from any thread (the compile thread writes the LEDs,
// the UI thread reads panel bits): the line state is kept in atomics, so no write is lost to another.
#include <linux/spi/spidev.h>

#include <cstdint>
#include <memory>

class SpiPort;

class IOArray {
public:
    static constexpr const char* kDevice = "/dev/spidev0.0";

    // Sets the array up for n lines at scan_freq frames per second with buffer_ms of frames in flight and
    // the given PWM depth (a power of two; otherwise 256 with a warning), and starts the SPI thread. 1 when
    // set up; 0 when it was already (a warning, nothing changes) or the sizes make no chain. The last four
    // arguments are not used.
    static int initialize(int n, int scan_freq, int buffer_ms, int pwm_depth, int, int, int, int);
    // Stops the SPI thread and forgets the chain, the port and the thread setting: as before initialize.
    static void deinitialize();
    // Tops the ring up: prepares frames until it is full. Every 10 ms on the input thread.
    static void tasks();
    // Takes one received frame into the input state: 0 none, 1 received and equal to the previous one,
    // 2 received and different. A transfer that failed is counted back into the ring and skipped.
    static int has_data();
    // Prepares one frame and queues it; false when the ring is full.
    static bool task_send();

    // Bit i of the last received frame; 0 outside 0 <= i < max_io.
    static int get_bit(int i);
    // Received byte i for 0 <= i < block_size, else 0.
    static uint8_t get_byte(int i);
    // Sets (v != 0) or clears output line i; nothing outside 0 <= i < max_io or before initialize.
    static void set_bit(int i, uint8_t v);
    // Output byte block_size - 1 - i = v, for 0 <= i < block_size after initialize.
    static void set_byte(int i, uint8_t v);
    // PWM duty of output line i in frames per PWM period: a set line is lit in the first `duty` frames of
    // each period (0 keeps it dark); -1 makes the line follow set_bit directly.
    static void set_pwm(int i, int duty);
    // Output byte i in frame order for 0 <= i < block_size, else 0.
    static uint8_t get_output_status(int i);
    // d a power of two: the PWM depth; otherwise a warning and the depth stays.
    static void set_pwm_depth(int d);
    static int get_max_pwm();
    static int get_max_io();
    // The number of frames in ms milliseconds (saturating at the largest int).
    static int ms_to_tick(int ms);

    // Body of the "IO Array SPI" thread: opens the device, then performs queued transfers back to back,
    // sleeping 10 ms when none is queued. Without a usable device it logs once and ends: the array stays
    // inactive, no frame comes back and the input thread sees no input.
    static void ioctl_tasks(void*);
    // The SPI thread's steps, for the thread and for tests that run the chain themselves.
    // Opens the device and sets SPI mode 2; false when it cannot be opened.
    static bool spi_open();
    // Performs one queued transfer: 1 done, -1 the transfer failed (it is handed back marked failed), 0 none
    // queued or no device open.
    static int spi_step();

    // The port the SPI thread talks through (null: the spidev calls; the host's panel socket or a test's
    // simulated chain), and, for tests, whether initialize starts the SPI thread (false: the caller runs
    // spi_open and spi_step). Set both before initialize.
    static void setPort(std::shared_ptr<SpiPort> port);
    static void setSpiThread(bool start);

private:
    static bool ringFull();
    static void renderPwm(uint8_t* frame);
};
