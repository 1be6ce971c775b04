// SPI over the kernel's spidev ports: one locked write transaction per call, the port's mode
// report, and the per-port set-up group of the board library.
#pragma once

#include <linux/spi/spidev.h>

#include <cstddef>
#include <cstdint>
#include <pthread.h>

inline constexpr int SPI_PORT_COUNT = 3;
inline constexpr const char* SPI_PORT_PATHS[SPI_PORT_COUNT] = {"/dev/spidev.0", "/dev/spidev.1",
                                                               "/dev/spidev.2"};
inline constexpr uint32_t SPI_WRITE_SPEED_HZ = 500000;
inline constexpr uint8_t SPI_WRITE_BITS = 8;
// spi_write sends at most this many bytes: its transmit area.
inline constexpr std::size_t SPI_TX_AREA_SIZE = 2;
inline constexpr std::size_t SPI_RX_AREA_SIZE = 8;

// The spidev requests in this platform's encoding (0x80206B00 for one message on PowerPC).
enum class spi_request : unsigned long {
    message_1 = SPI_IOC_MESSAGE(1),
    wr_mode = SPI_IOC_WR_MODE,
    rd_mode = SPI_IOC_RD_MODE,
    wr_bits = SPI_IOC_WR_BITS_PER_WORD,
    rd_bits = SPI_IOC_RD_BITS_PER_WORD,
    wr_speed = SPI_IOC_WR_MAX_SPEED_HZ,
    rd_speed = SPI_IOC_RD_MAX_SPEED_HZ,
};

// Held for the whole of each SPI transaction of the process; not recursive.
extern pthread_mutex_t spiLock;

// The spidev path of a port, or nullptr for a port other than 0, 1 or 2.
const char* spi_port_path(int port);

// Sends the first bytes of buffer (length 1 or 2; a longer length sends two) to the port as
// one transfer at 500 kHz, 8 bits per word. Ends the process when the port cannot be opened
// or the transfer fails. Returns 0.
int spi_write(int port, const uint8_t* buffer, std::size_t length);
// spi_write on the device at path, with the open failure reported as openFailMessage (the
// chip drivers name their chip there). A null path is a device that cannot be opened.
int spi_write_path(const char* path, const char* openFailMessage, const uint8_t* buffer,
                   std::size_t length);
// One transfer as a transaction of its own, for a caller that holds spiLock: opens the device
// at path, sets SPI mode 0 first when setModeZero is 1 (its outcome is not examined), issues
// SPI_IOC_MESSAGE(1) with the record, closes. Ends the process with perror(openFailMessage)
// when the device cannot be opened (a null path counts as that) and with "can't send spi
// message" when the transfer gives less than 1.
void spi_transfer_once(const char* path, const char* openFailMessage, spi_ioc_transfer& transfer,
                       int setModeZero);
// Logs its arguments and the port's current SPI mode; mode is only logged.
void init_spi_mode(int port, int mode);
// perror(message), then abort.
[[noreturn]] void spi_fail(const char* message);

// Board-library set-up on an open spidev descriptor: set, read back and log one setting.
void spi_set_mode(int fd, uint8_t mode);
void spi_set_bits(int fd, uint8_t bits);
void spi_set_speed(int fd, uint32_t hz);
// Opens the path and applies the three settings; takes no lock.
void spi_setup_port(const char* path, uint8_t mode, uint8_t bits, uint32_t hz);
// Ports 0 and 1 with zeros.
void spi_setup_ports();
