#include <chrono>
#include <cstdio>

#include "runs.h"
#include "scan.h"
#include "os/terminal.h"
#include "text.h"

namespace fleet {
namespace {

int usage_error(const std::string& message) {
    std::fprintf(stderr, "tvflash-fleet: %s\n%s", message.c_str(), short_usage().c_str());
    return 2;
}

// What check found: the steps with their images, and the targets.
void print_checked(const Plan& plan) {
    std::printf("%zu %s:\n", plan.steps.size(), plan.steps.size() == 1 ? "step" : "steps");
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        const Step& step = plan.steps[i];
        std::string size =
            step.file.empty() ? "" : " (" + std::to_string(step.image_size) + " bytes)";
        std::printf("  %zu  %s%s\n", i + 1, one_line(step.text()).c_str(), size.c_str());
    }
    std::printf("%zu %s\n", plan.targets.size(), plan.targets.size() == 1 ? "target" : "targets");
    std::printf("Tool: %s\nNo problem found; nothing was sent.\n", one_line(plan.tool).c_str());
}

int run_plan(const Options& options, const Plan& plan) {
    Record record;
    std::string dir = options.logs_dir.empty() ? default_logs_dir(std::chrono::system_clock::now())
                                               : options.logs_dir;
    std::string error;
    if (!record.open(dir, error)) {
        std::fprintf(stderr, "tvflash-fleet: %s\n", error.c_str());
        return 2;
    }
    if (options.answer_given && terminal::questions_in_windows()) {
        std::printf(
            "Note: --answer has no effect here: tvflash asks the bootloader question in "
            "a message box.\n");
    }
    return options.watch ? run_station(options, plan, record) : run_batch(options, plan, record);
}

}  // namespace

int fleet_main(const std::vector<std::string>& args) {
    ParsedOptions parsed = parse_options(args);
    if (!parsed.error.empty()) {
        return usage_error(parsed.error);
    }
    const Options& options = parsed.options;
    switch (options.mode) {
        case Mode::help:
            std::printf("%s", help_text().c_str());
            return 0;
        case Mode::version:
            std::printf("tvflash-fleet %s\n", TVFLASH_VERSION);
            return 0;
        case Mode::scan:
            return run_scan(options);
        default:
            break;
    }
    Plan plan = make_plan(options);
    for (const std::string& error : plan.errors) {
        std::fprintf(stderr, "tvflash-fleet: %s\n", error.c_str());
    }
    if (!plan.errors.empty()) {
        return 2;
    }
    if (options.mode == Mode::check) {
        print_checked(plan);
        return 0;
    }
    return run_plan(options, plan);
}

}  // namespace fleet
