#include "drivers/sharp/cs5_ecr.h"

CS5_ECR::CS5_ECR() : CSharpLogic(m_protocol, SharpModel::S495) {}
