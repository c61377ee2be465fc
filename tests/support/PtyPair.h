// A pseudo-terminal pair standing in for a serial port: the code under test
// opens slavePath() as its tty, the test plays the far end on the master.
#pragma once

#include <cstddef>
#include <string>

namespace morvtest {

class PtyPair {
public:
    // openpty; throws std::runtime_error on failure.
    PtyPair();
    ~PtyPair();

    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int masterFd() const { return master_; }
    int slaveFd() const { return slave_; }
    const std::string& slavePath() const { return slavePath_; }

    // Writes all bytes to the master (they arrive at the slave); false on failure.
    bool writeMaster(const std::string& bytes);
    // Bytes the slave sent, until count arrived or timeoutMs passed.
    std::string readMaster(std::size_t count, int timeoutMs);

    // Hang-up seen by the slave side.
    void closeMaster();
    void closeSlave();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace morvtest
