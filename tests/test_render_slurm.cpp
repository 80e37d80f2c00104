// The Slurm recipe on a real cluster: one node on this machine, started by the test and stopped with it
// (CTest label "slurm"; needs root, munge and Slurm's daemons). The array's parts must write what the plain
// batch writes, and their merged summary must be the plain batch's.
#include "test_render_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>

namespace {

using namespace render_test;

// A TCP port no one listens on now.
int freePort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
        pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// A folder of its own under /tmp, short enough for a socket's path, removed with the cluster.
fs::path temporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "vandrel-slurm-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

// munged, slurmctld and slurmd in the foreground as children of the test, with their files in a folder of
// their own: they end when the cluster does, and with the test should it die first.
class SlurmCluster {
public:
    SlurmCluster() : folder_(temporaryFolder()) {
        const fs::path& folder = folder_;
        for (const char* sub : {"munge", "state", "spool", "log"}) fs::create_directories(folder / sub);
        // munged wants the folders to its socket open to all, and its key to itself.
        fs::permissions(folder, fs::perms(0755));
        fs::permissions(folder / "munge", fs::perms(0755));
        std::string key(1024, '\0');
        std::random_device random;
        for (char& byte : key) byte = char(random());
        std::ofstream(folder / "munge/key", std::ios::binary) << key;
        fs::permissions(folder / "munge/key", fs::perms::owner_read);
        writeConfig();
        start({"munged", "--foreground", "--key-file=" + (folder / "munge/key").string(),
               "--socket=" + socket(), "--pid-file=" + (folder / "munge/pid").string(),
               "--log-file=" + (folder / "log/munged.log").string(),
               "--seed-file=" + (folder / "munge/seed").string()});
        setenv("SLURM_CONF", config().c_str(), 1);
        start({"slurmctld", "-D", "-f", config()});
        start({"slurmd", "-D", "-f", config()});
    }

    // Waits for the node to take jobs; false with the logs when it does not within a minute.
    bool ready(std::string& why) {
        for (int i = 0; i < 600; ++i) {
            if (output("sinfo -h -o %T 2>/dev/null") == "idle") return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        why = "the node never became idle; slurmctld says:\n" + slurp(folder_ / "log/slurmctld.log") +
              "\nslurmd says:\n" + slurp(folder_ / "log/slurmd.log");
        return false;
    }

    // Jobs cancelled, then the daemons stopped in the reverse order of their start.
    ~SlurmCluster() {
        if (std::system("scancel --quiet --full --user=root >/dev/null 2>&1") == 0)
            for (int i = 0; i < 100 && !output("squeue -h 2>/dev/null").empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (auto pid = daemons_.rbegin(); pid != daemons_.rend(); ++pid) {
            kill(*pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(*pid, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (kill(*pid, 0) == 0) {
                kill(*pid, SIGKILL);
                waitpid(*pid, &status, 0);
            }
        }
        unsetenv("SLURM_CONF");
        std::error_code error;
        fs::remove_all(folder_, error);
    }

    std::string config() const { return (folder_ / "slurm.conf").string(); }

private:
    std::string socket() const { return (folder_ / "munge/socket").string(); }

    void writeConfig() {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        const std::string node = std::string(host).substr(0, std::string(host).find('.'));
        std::ofstream conf(config());
        conf << "ClusterName=vandrel\nSlurmctldHost=" << node << "\nSlurmUser=root\nAuthType=auth/munge\n"
             << "CredType=cred/munge\nAuthInfo=socket=" << socket() << "\nMailProg=/bin/true\n"
             << "SlurmctldPort=" << freePort() << "\nSlurmdPort=" << freePort() << "\n"
             << "StateSaveLocation=" << (folder_ / "state").string() << "\n"
             << "SlurmdSpoolDir=" << (folder_ / "spool").string() << "\n"
             << "SlurmctldPidFile=" << (folder_ / "slurmctld.pid").string() << "\n"
             << "SlurmdPidFile=" << (folder_ / "slurmd.pid").string() << "\n"
             << "SlurmctldLogFile=" << (folder_ / "log/slurmctld.log").string() << "\n"
             << "SlurmdLogFile=" << (folder_ / "log/slurmd.log").string() << "\n"
             << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\nMpiDefault=none\n"
             << "SelectType=select/cons_tres\nSelectTypeParameters=CR_CPU\nReturnToService=2\n"
             << "NodeName=" << node << " CPUs=" << std::thread::hardware_concurrency() << " State=UNKNOWN\n"
             << "PartitionName=main Nodes=" << node << " Default=YES MaxTime=INFINITE State=UP\n";
    }

    void start(const std::vector<std::string>& command) {
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(127);
            const int log = open((folder_ / "log" / (command[0] + ".out")).c_str(), O_WRONLY | O_CREAT, 0644);
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
            std::vector<char*> argv;
            for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        if (pid > 0) daemons_.push_back(pid);
    }

    fs::path folder_;
    std::vector<pid_t> daemons_;
};

#ifdef VANDREL_PLUGIN_PATH
TEST_F(RenderVandrel, TheSlurmRecipeWritesWhatThePlainBatchWritesAndMergesItsSummary) {
    if (geteuid() != 0) GTEST_SKIP() << "the cluster's daemons run as root";
    for (const char* program : {"munged", "slurmctld", "slurmd", "sbatch"})
        ASSERT_EQ(std::system(("command -v " + std::string(program) + " >/dev/null").c_str()), 0)
            << program << " is missing: install munge and slurm-wlm";
    fs::create_directories(file("in/season 1"));
    for (unsigned i = 0; i < 5; ++i)
        writeAudio(file("in/season 1/episode " + std::to_string(i) + ".wav"),
                   programme(2, 1.5 + i, SF_FORMAT_WAV | SF_FORMAT_PCM_16, i));
    // A failure, and two inputs for one output: the parts must keep both, as the whole batch does.
    std::ofstream(file("in/season 1/damaged.wav")) << "not audio\n";
    writeAudio(file("in/season 1/episode 0.flac"), programme(2, 1.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 9));
    const std::vector<std::string> batch = {"--out-dir", file("levelled"), "--format", "flac", file("in")};
    std::vector<std::string> plain = batch;
    plain.insert(plain.end(), {"--json", file("plain.json"), "-q"});
    ASSERT_EQ(run(plain).status, 4);
    fs::rename(file("levelled"), file("plain"));

    SlurmCluster cluster;
    std::string why;
    ASSERT_TRUE(cluster.ready(why)) << why;
    std::string command = quote(VANDREL_SOURCE_DIR "/scripts/batch_slurm.sh") + " -n 2 -r " +
                          quote(kRenderer) + " -o " + quote(file("merged.json")) + " --";
    for (const auto& arg : batch) command += " " + quote(arg);
    command += " >" + quote(file("table.txt")) + " 2>" + quote(file("err.txt"));
    const int status = std::system(command.c_str());
    // The whole batch's exit status, summary and files, from two array tasks.
    ASSERT_TRUE(WIFEXITED(status)) << slurp(file("err.txt"));
    EXPECT_EQ(WEXITSTATUS(status), 4) << slurp(file("err.txt"));
    EXPECT_NE(slurp(file("table.txt")).find("7 files: 5 done, 2 failed"), std::string::npos)
        << slurp(file("table.txt")) << slurp(file("err.txt"));
    EXPECT_EQ(filesUnder(file("merged.parts")),
              (std::set<std::string>{"merge.err", "merge.out", "merge.sh", "part-1.json", "part-1.log",
                                     "part-2.json", "part-2.log", "part.sh"}));
    EXPECT_EQ(timingFree(slurp(file("merged.json"))), timingFree(slurp(file("plain.json"))));
    EXPECT_EQ(filesUnder(file("levelled")), filesUnder(file("plain")));
    for (const auto& name : filesUnder(file("plain")))
        EXPECT_TRUE(slurp(file("levelled") / name) == slurp(file("plain") / name)) << name;
}
#endif

} // namespace
