#pragma once

#include "recordingboxes.h"

#include "link/clock.h"
#include "link/portsession.h"
#include "simulator/memoryport.h"
#include "simulator/stationcore.h"

// Everything a test of a window or of the plain logic needs to talk to the
// virtual command station in memory: a ManualClock, the station, a MemoryPort
// installed as the program's port and opened, current port name "COM1", and a
// recorder for every message box. Undone when the rig goes out of scope.
class StationRig
{
public:
    explicit StationRig(quint8 controllerNumber = 1)
    {
        setProgramClock(&clock);
        station.setControllerNumber(controllerNumber);
        setControllerPort(&port);
        setCurrentPortName(QStringLiteral("COM1"));
        port.open(QStringLiteral("/dev/ttyACM0"));
    }
    ~StationRig()
    {
        setControllerPort(nullptr);
        setCurrentPortName(QStringLiteral("NUL"));
        setProgramClock(nullptr);
    }
    StationRig(const StationRig &) = delete;
    StationRig &operator=(const StationRig &) = delete;

    // The requests the station received since the last call, and forgets
    // them.
    QList<CommandBuffer> takeRequests()
    {
        const QList<CommandBuffer> requests = station.receivedRequests();
        station.clearLog();
        return requests;
    }

    ManualClock clock;
    StationCore station;
    MemoryPort port{&station};
    RecordingMessageBoxes boxes;
};
