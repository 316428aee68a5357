// Timing of the program's own work on the default machine, through the whole
// path: program -> I/O manager -> driver -> HAL -> simulated machine.
//
// The benchmarks run inside a real MainDialog (built from the program's own
// template by the stand-in), from its initialisation, and drive the same
// members the buttons and the device list drive.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "device_channel.h"
#include "driver_request.h"
#include "main_dialog.h"
#include "machine/machine.h"
#include "service_control.h"

// Every driver request the program sends passes here (the link wraps
// DeviceIoControl), so the benchmarks can report how many each action sends.
static unsigned long long g_requests = 0;

extern "C" BOOL __real_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped);
extern "C" BOOL __wrap_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    ++g_requests;
    return __real_DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

namespace {

// The default machine's PCI Express Ethernet controller.
const unsigned kExpressBus = 4, kExpressDevice = 0, kExpressFunction = 0;

class BenchDialog : public MainDialog {
public:
    using MainDialog::ReloadDevice;
    using MainDialog::SaveDevice;
    using MainDialog::ScanBus;
    using MainDialog::ShowDeviceRegisters;
    using MainDialog::ShowRegisterNames;

    int rowsShown() { return (int)RegisterList.SendMessage(LVM_GETITEMCOUNT, 0, 0); }
    int devicesListed() { return (int)DeviceList.SendMessage(LVM_GETITEMCOUNT, 0, 0); }

protected:
    BOOL OnInitDialog() override;
};

BenchDialog* g_dialog = nullptr;

void RequestCounter(benchmark::State& state, unsigned long long before) {
    state.counters["requests"] =
        benchmark::Counter((double)(g_requests - before) / (double)state.iterations());
}

void BM_OneRequestPresent(benchmark::State& state) {
    ConfigRequest request;
    unsigned long long before = g_requests;
    for (auto _ : state) {
        memset(&request, 0, sizeof request);
        request.Bus = kExpressBus;
        if (!SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof request)) {
            state.SkipWithError("request failed");
        }
        benchmark::DoNotOptimize(request.Result);
    }
    RequestCounter(state, before);
}

void BM_OneRequestAbsent(benchmark::State& state) {
    ConfigRequest request;
    unsigned long long before = g_requests;
    for (auto _ : state) {
        memset(&request, 0, sizeof request);
        request.Bus = 0;
        request.Device = 5;  // nothing answers there
        if (!SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof request)) {
            state.SkipWithError("request failed");
        }
        benchmark::DoNotOptimize(request.Result);
    }
    RequestCounter(state, before);
}

void BM_FullScan(benchmark::State& state) {
    unsigned long long before = g_requests;
    for (auto _ : state) g_dialog->ScanBus();
    RequestCounter(state, before);
    state.counters["functions"] = g_dialog->devicesListed();
}

void BM_RegisterViewExpress(benchmark::State& state) {
    unsigned long long before = g_requests;
    for (auto _ : state) {
        // As a selection change shows it: emptied, then read and filled.
        g_dialog->ShowRegisterNames(-1);
        if (g_dialog->ShowDeviceRegisters(kExpressBus, kExpressDevice, kExpressFunction) != 0) {
            state.SkipWithError("display failed");
        }
    }
    RequestCounter(state, before);
    state.counters["rows"] = g_dialog->rowsShown();
}

void BM_SaveAndReload(benchmark::State& state) {
    unsigned long long before = g_requests;
    for (auto _ : state) {
        if (g_dialog->SaveDevice(0, kExpressBus, kExpressDevice, kExpressFunction) != 0 ||
            g_dialog->ReloadDevice(0, kExpressBus, kExpressDevice, kExpressFunction) != 0) {
            state.SkipWithError("save or reload failed");
        }
    }
    RequestCounter(state, before);
}

BENCHMARK(BM_OneRequestPresent);
BENCHMARK(BM_OneRequestAbsent);
BENCHMARK(BM_FullScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegisterViewExpress)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveAndReload)->Unit(benchmark::kMicrosecond);

BOOL BenchDialog::OnInitDialog() {
    MainDialog::OnInitDialog();  // columns, empty slots, the first scan
    g_dialog = this;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EndDialog(IDOK);
    return TRUE;
}

// The benchmark runs from the folder that holds the program and its driver.
bool ChangeToProgramFolder() {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return false;
    self[length] = '\0';
    std::string folder(self);
    folder.erase(folder.rfind('/'));
    return chdir(folder.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    if (!ChangeToProgramFolder()) {
        fprintf(stderr, "cannot change to the benchmark's folder\n");
        return 2;
    }
    standin::SetCurrentMachine(standin::DefaultMachine());

    char driverPath[MAX_PATH];
    UninstallDriverService();
    if (!OpenDeviceChannel(driverPath)) {
        fprintf(stderr, "cannot open the driver's device (is QUORVENAL.sys built here?)\n");
        return 2;
    }
    BenchDialog dialog;
    INT_PTR end = dialog.DoModal();
    UninstallDriverService();
    return end == IDOK ? 0 : 1;
}
