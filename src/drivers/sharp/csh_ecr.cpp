#include "drivers/sharp/csh_ecr.h"

CSH_ECR::CSH_ECR() : CSharpLogic(m_protocol, SharpModel::S457) {}
