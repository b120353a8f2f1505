#include "app/form1.h"
#include "app/form_runner.h"
#include "platform/seam/program.h"

int main(int argc, char** argv) {
  const auto platform = sorel::CreatePlatform(argc, argv);
  sorel::Form1 form(*platform);
  return sorel::FormRunner(form, *platform).Run();
}
